#include "measure/measurement_list.h"
#include "measure/overlay_measurements.h"
#include "viewer/viewport_2d.h"

namespace vexel {
namespace {

constexpr double kReach = 5;  // logical pixels, inclusive

}  // namespace

bool COverlayPencil::Add(int32_t x, int32_t y) {
    const CanvasPoint centre = Centre(x, y);
    const auto image = m_viewport->ScreenToImage(centre.x, centre.y);
    if (!image) return false;
    m_points.push_back(*image);
    m_screen.push_back(centre);
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

std::optional<CMeasurementElement::Hit> COverlayPencil::HitShape(CanvasPoint p) const {
    if (!InBox(p)) return std::nullopt;
    const auto reach = float(Reach(kReach));
    for (const CanvasPoint& s : m_screen) {
        const float dx = s.x - p.x, dy = s.y - p.y;
        if (dx * dx + dy * dy <= reach * reach) return Hit{};
    }
    return std::nullopt;
}

void COverlayPencil::DrawShape(ICanvas& canvas) {
    if (m_screen.size() < 2) return;
    DrawOutlined(canvas, m_screen, LineColour());
}

std::optional<MeasurementRecord> COverlayPencil::Record() const {
    auto record = CMeasurementElement::Record();
    if (!record) return record;
    for (const CanvasPoint& s : m_screen) {
        record->screenXY.push_back(double(s.x));
        record->screenXY.push_back(double(s.y));
    }
    return record;
}

}  // namespace vexel
