#include "measure/measurement_labels.h"
#include "measure/measurement_list.h"
#include "measure/overlay_measurements.h"

namespace vexel {

void COverlayLength::UpdateText() {
    const Calibration& spacing = List().Spacing();
    m_text = LengthLabel(LengthOf(m_points[0], m_points[1], spacing), spacing, List().Texts());
}

ToolAnswer COverlayLength::CreateDown(int32_t x, int32_t y, MouseButton /*button*/) {
    return DragCreateDown(x, y);
}

ToolAnswer COverlayLength::CreateMove(int32_t x, int32_t y) {
    return DragCreateMove(x, y);
}

ToolAnswer COverlayLength::CreateUp(int32_t /*x*/, int32_t /*y*/, MouseButton /*button*/) {
    return DragCreateUp();
}

std::optional<CMeasurementElement::Hit> COverlayLength::HitShape(CanvasPoint p) const {
    if (!InBox(p) || !(ToSegment(p, 0, 1) < Reach(kLineReach))) return std::nullopt;
    return Hit{HandleNear(p, Reach(kHandleReach)), 0, false};
}

void COverlayLength::DrawShape(ICanvas& canvas) {
    DrawSegment(canvas, m_screen[0], m_screen[1], LineColour());
    DrawHandles(canvas);
}

}  // namespace vexel
