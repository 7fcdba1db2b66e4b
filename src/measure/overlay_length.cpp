#include "measure/measurement_labels.h"
#include "measure/measurement_list.h"
#include "measure/overlay_measurements.h"

namespace vexel {

void COverlayLength::UpdateText() {
    const Calibration& spacing = List().Spacing();
    m_text = LengthLabel(LengthOf(m_points[0], m_points[1], spacing), spacing, List().Texts());
}

ToolAnswer COverlayLength::CreateDown(int32_t x, int32_t y, MouseButton /*button*/) {
    if (m_phase != 0 || !SetPoint(0, x, y)) return ToolAnswer::NotHandled;
    m_points[1] = m_points[0];
    m_phase = 1;
    return ToolAnswer::Capture;
}

ToolAnswer COverlayLength::CreateMove(int32_t x, int32_t y) {
    if (SetPoint(1, x, y)) {
        m_phase = 2;
        UpdateText();
        Changed();
    }
    return ToolAnswer::Capture;
}

ToolAnswer COverlayLength::CreateUp(int32_t /*x*/, int32_t /*y*/, MouseButton /*button*/) {
    if (m_phase == 2) Finish();
    return ToolAnswer::NotHandled;
}

std::optional<CMeasurementElement::Hit> COverlayLength::HitShape(CanvasPoint p) const {
    if (!InBox(p) || !(ToSegment(p, 0, 1) < kLineReach)) return std::nullopt;
    return Hit{HandleNear(p, kHandleReach), 0, false};
}

void COverlayLength::DrawShape(ICanvas& canvas) {
    DrawSegment(canvas, m_screen[0], m_screen[1], LineColour());
    DrawHandles(canvas);
}

}  // namespace vexel
