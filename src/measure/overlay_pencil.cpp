#include "measure/measurement_list.h"
#include "measure/overlay_measurements.h"
#include "viewer/viewport_2d.h"

namespace vexel {
namespace {

constexpr int64_t kReachSquared = 25;  // 5 pixels, inclusive

}  // namespace

bool COverlayPencil::Add(int32_t x, int32_t y) {
    const auto image = m_viewport->ScreenToImage(float(x), float(y));
    if (!image) return false;
    m_points.push_back(*image);
    m_screen.push_back({x, y});
    return true;
}

ToolAnswer COverlayPencil::CreateDown(int32_t x, int32_t y, MouseButton /*button*/) {
    if (m_phase != 0 || !Add(x, y)) return ToolAnswer::NotHandled;
    m_phase = 1;
    return ToolAnswer::Capture;
}

ToolAnswer COverlayPencil::CreateMove(int32_t x, int32_t y) {
    // Every reported position is kept: no thinning, no smoothing.
    if (Add(x, y)) {
        m_phase = 2;
        Changed();
    }
    return ToolAnswer::Capture;
}

ToolAnswer COverlayPencil::CreateUp(int32_t /*x*/, int32_t /*y*/, MouseButton /*button*/) {
    if (m_phase == 2) Finish();
    return ToolAnswer::NotHandled;
}

ToolAnswer COverlayPencil::MouseDown(int32_t x, int32_t y, MouseButton button) {
    if (!m_finished) return CreateDown(x, y, button);
    // Selected, never moved.
    if (button != MouseButton::Left || m_state != ElementState::Hovered) {
        return ToolAnswer::NotHandled;
    }
    m_list->Select(this);
    return ToolAnswer::Handled;
}

std::optional<CMeasurementElement::Hit> COverlayPencil::HitShape(ScreenPoint p) const {
    if (!InBox(p)) return std::nullopt;
    for (const ScreenPoint& s : m_screen) {
        const int64_t dx = int64_t(s.x) - p.x, dy = int64_t(s.y) - p.y;
        if (dx * dx + dy * dy <= kReachSquared) return Hit{};
    }
    return std::nullopt;
}

void COverlayPencil::DrawShape(ICanvas& canvas) {
    if (m_screen.size() < 2) return;
    std::vector<CanvasPoint> line;
    line.reserve(m_screen.size());
    for (const ScreenPoint& s : m_screen)
        line.push_back({float(s.x), float(s.y)});
    canvas.DrawPolyline(line, kMeasurementStyle.outline, kMeasurementStyle.outlineWidth, true);
    canvas.DrawPolyline(line, LineColour(), kMeasurementStyle.lineWidth, true);
}

std::optional<MeasurementRecord> COverlayPencil::Record() const {
    auto record = CMeasurementElement::Record();
    if (!record) return record;
    record->labelMoved = false;
    record->label = {};
    for (const ScreenPoint& s : m_screen) {
        record->screenXY.push_back(double(s.x));
        record->screenXY.push_back(double(s.y));
    }
    return record;
}

}  // namespace vexel
