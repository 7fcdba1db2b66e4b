#include <algorithm>

#include "measure/measurement_labels.h"
#include "measure/measurement_list.h"
#include "measure/overlay_measurements.h"
#include "viewer/viewport_2d.h"

namespace vexel {

// ---- angle at a vertex ----

void COverlayAngle::UpdateText() {
    m_text = AngleLabel(AngleAt(m_points[0], m_points[1], m_points[2], List().Spacing()),
                        List().Texts());
}

ToolAnswer COverlayAngle::CreateDown(int32_t x, int32_t y, MouseButton /*button*/) {
    if (m_phase == 0) {
        if (!SetPoint(0, x, y)) return ToolAnswer::NotHandled;
        m_points[1] = m_points[2] = m_points[0];
        m_phase = 1;
        return ToolAnswer::Capture;
    }
    if (m_phase != 3) return ToolAnswer::Capture;
    // The click that places the third point belongs to this angle: taken here, it cannot
    // start a new measurement when the hand moves a pixel while clicking.
    SetPoint(2, x, y);
    UpdateText();
    m_phase = 4;
    Changed();
    return ToolAnswer::Handled;
}

ToolAnswer COverlayAngle::CreateMove(int32_t x, int32_t y) {
    if (m_phase == 1 || m_phase == 2) {
        if (SetPoint(1, x, y)) {
            m_points[2] = m_points[1];
            m_phase = 2;
            Changed();
        }
    } else if (m_phase == 3 && SetPoint(2, x, y)) {
        UpdateText();
        Changed();
    }
    return ToolAnswer::Capture;
}

ToolAnswer COverlayAngle::CreateUp(int32_t /*x*/, int32_t /*y*/, MouseButton /*button*/) {
    if (m_phase == 2) {
        m_phase = 3;
        return ToolAnswer::Capture;
    }
    if (m_phase == 4) Finish();
    return ToolAnswer::NotHandled;
}

std::optional<CMeasurementElement::Hit> COverlayAngle::HitShape(CanvasPoint p) const {
    if (!InBox(p)) return std::nullopt;
    for (int segment = 0; segment < 2; ++segment) {
        if (ToSegment(p, size_t(segment), size_t(segment) + 1) < Reach(kLineReach)) {
            return Hit{HandleNear(p, Reach(kHandleReach)), segment, false};
        }
    }
    return std::nullopt;
}

void COverlayAngle::DrawShape(ICanvas& canvas) {
    const uint32_t colour = LineColour();
    DrawSegment(canvas, m_screen[0], m_screen[1], colour);
    DrawSegment(canvas, m_screen[1], m_screen[2], colour);
    DrawHandles(canvas);
}

// ---- Cobb angle ----

void COverlayCobbAngle::UpdateText() {
    m_angle = CobbAngleOf(m_points[0], m_points[1], m_points[2], m_points[3], List().Spacing());
    m_text = AngleLabel(m_angle ? std::optional<double>(m_angle->degrees) : std::nullopt,
                        List().Texts());
}

void COverlayCobbAngle::Place() {
    // The auxiliary segment first: the box, and so every redraw, must cover it.
    if (m_angle) {
        const ImagePoint ends[] = {m_angle->auxiliaryStart, m_angle->auxiliaryEnd};
        for (int i = 0; i < 2; ++i) {
            if (const auto p = ImageToScreenExact(m_viewport->Geometry(), ends[i].x, ends[i].y)) {
                m_auxiliary[i] = {p->x, p->y};
            }
        }
    }
    CMeasurementElement::Place();
}

PixelRect COverlayCobbAngle::ShapeBox() const {
    PixelRect box = CMeasurementElement::ShapeBox();
    if (!m_angle || box.Empty()) return box;
    for (const CanvasPoint& p : m_auxiliary) {
        const auto x = int32_t(std::clamp(p.x, -1e9f, 1e9f));
        const auto y = int32_t(std::clamp(p.y, -1e9f, 1e9f));
        const int32_t right = std::max(box.x + box.width, x + 2);
        const int32_t bottom = std::max(box.y + box.height, y + 2);
        box.x = std::min(box.x, x - 1);
        box.y = std::min(box.y, y - 1);
        box.width = right - box.x;
        box.height = bottom - box.y;
    }
    return box;
}

ToolAnswer COverlayCobbAngle::CreateDown(int32_t x, int32_t y, MouseButton /*button*/) {
    if (m_phase == 0 || m_phase == 3) {
        const size_t first = m_phase == 0 ? 0 : 2;
        if (!SetPoint(first, x, y)) return m_phase == 0 ? ToolAnswer::NotHandled : ToolAnswer::Capture;
        for (size_t i = first + 1; i < 4; ++i)
            m_points[i] = m_points[first];
        ++m_phase;
    }
    return ToolAnswer::Capture;
}

ToolAnswer COverlayCobbAngle::CreateMove(int32_t x, int32_t y) {
    const bool firstLine = m_phase == 1 || m_phase == 2;
    const bool secondLine = m_phase == 4 || m_phase == 5;
    if (!firstLine && !secondLine) return ToolAnswer::Capture;
    const size_t end = firstLine ? 1 : 3;
    if (SetPoint(end, x, y)) {
        if (firstLine) m_points[2] = m_points[3] = m_points[1];
        m_phase = firstLine ? 2 : 5;
        if (secondLine) UpdateText();
        Changed();
    }
    return ToolAnswer::Capture;
}

ToolAnswer COverlayCobbAngle::CreateUp(int32_t /*x*/, int32_t /*y*/, MouseButton /*button*/) {
    if (m_phase == 2) {
        m_phase = 3;  // waiting for the second line
        return ToolAnswer::Capture;
    }
    if (m_phase == 5) {
        Finish();
        return ToolAnswer::NotHandled;
    }
    return ToolAnswer::Capture;
}

std::optional<CMeasurementElement::Hit> COverlayCobbAngle::HitShape(CanvasPoint p) const {
    if (!InBox(p)) return std::nullopt;
    for (int line = 0; line < 2; ++line) {
        if (ToSegment(p, size_t(2 * line), size_t(2 * line) + 1) < Reach(kLineReach)) {
            return Hit{HandleNear(p, Reach(kHandleReach)), line, false};
        }
    }
    return std::nullopt;
}

CMeasurementElement::DragMask COverlayCobbAngle::DragFor(const Hit& hit,
                                                       CanvasPoint press) const {
    DragMask mask(4, 0);
    const int handle = HandleNear(press, Reach(kHandleReach));
    if (handle >= 0) {
        mask[size_t(handle)] = 3;
    } else if (hit.segment >= 0) {
        mask[size_t(2 * hit.segment)] = mask[size_t(2 * hit.segment) + 1] = 3;
    }
    return mask;
}

void COverlayCobbAngle::DrawShape(ICanvas& canvas) {
    const uint32_t colour = LineColour();
    const bool second = m_phase >= 4 || m_finished;
    DrawSegment(canvas, m_screen[0], m_screen[1], colour);
    if (second) DrawSegment(canvas, m_screen[2], m_screen[3], colour);
    if (m_angle && second) {
        // In the handles' colour, set apart from the lines measured.
        DrawOutlined(canvas, m_auxiliary, HandleColour(-2));
    }
    DrawHandles(canvas);
}

}  // namespace vexel
