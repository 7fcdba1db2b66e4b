#include <algorithm>
#include <cmath>
#include <vector>

#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "measure/measurement_labels.h"
#include "measure/measurement_list.h"
#include "measure/overlay_measurements.h"
#include "viewer/image_blender.h"
#include "viewer/viewport_2d.h"

namespace vexel {
namespace {

constexpr double kCornerReach = 5.0;
constexpr double kPi = 3.14159265358979323846;

}  // namespace

void COverlayEllipse::UpdateText() {
    CDicomFrame& frame = List().Frame();
    // With a fusion shown, the values are the fused series' under the ellipse.
    EllipseStatistics fused;
    SuvInfo suv;
    IImageBlender* blender = m_viewport->Blender();
    if (blender != nullptr &&
        blender->OverlayStatistics(frame, m_points[0].x, m_points[0].y, m_points[1].x,
                                   m_points[1].y, &fused, &suv)) {
        // The area is the ellipse's own, in the base's pixels and calibration.
        const EllipseStatistics own =
            frame.Ellipse(m_points[0].x, m_points[0].y, m_points[1].x, m_points[1].y);
        fused.areaPixels = own.areaPixels;
        fused.areaSquareCm = own.areaSquareCm;
        m_text = EllipseLabel(fused, List().Spacing(), false, false, List().Texts(),
                              ValueUnitsOf(suv, List().Texts()), true);
        return;
    }
    const EllipseStatistics stats =
        frame.Ellipse(m_points[0].x, m_points[0].y, m_points[1].x, m_points[1].y);
    // PET values in Bq/ml read as SUV when the image allows it.
    m_text = EllipseLabel(stats, List().Spacing(), frame.IsColour(), List().Interpolated(),
                          List().Texts(),
                          ValueUnitsOf(ComputeSuv(frame.Image().File()), List().Texts()));
}

void COverlayEllipse::Place() {
    CMeasurementElement::Place();
    const CanvasPoint a = m_screen[0], b = m_screen[1];
    m_corners[0] = a;
    m_corners[1] = b;
    m_corners[2] = {a.x, b.y};
    m_corners[3] = {b.x, a.y};
}

ToolAnswer COverlayEllipse::CreateDown(int32_t x, int32_t y, MouseButton /*button*/) {
    return DragCreateDown(x, y);
}

ToolAnswer COverlayEllipse::CreateMove(int32_t x, int32_t y) {
    return DragCreateMove(x, y);
}

ToolAnswer COverlayEllipse::CreateUp(int32_t /*x*/, int32_t /*y*/, MouseButton /*button*/) {
    return DragCreateUp();
}

int COverlayEllipse::CornerNear(CanvasPoint p) const {
    for (int i = 0; i < 4; ++i) {
        if (std::hypot(double(p.x) - m_corners[i].x, double(p.y) - m_corners[i].y) <=
            Reach(kCornerReach))
            return i;
    }
    return -1;
}

std::optional<CMeasurementElement::Hit> COverlayEllipse::HitShape(CanvasPoint p) const {
    if (!InBox(p)) return std::nullopt;
    const int corner = CornerNear(p);
    if (corner >= 0) return Hit{corner, -1, false};
    const double cx = (double(m_corners[0].x) + m_corners[1].x) / 2;
    const double cy = (double(m_corners[0].y) + m_corners[1].y) / 2;
    const double a = std::abs(double(m_corners[1].x) - m_corners[0].x) / 2;
    const double b = std::abs(double(m_corners[1].y) - m_corners[0].y) / 2;
    // Small ellipses are hovered anywhere in their box, large ones along the outline.
    if (a <= Reach(20) || b <= Reach(20)) return Hit{};
    const double r = std::hypot((cx - p.x) / a, (cy - p.y) / b);
    if (r > 0.9 && r < 1.05) return Hit{};
    return std::nullopt;
}

CMeasurementElement::DragMask COverlayEllipse::DragFor(const Hit& /*hit*/,
                                                       CanvasPoint press) const {
    // Per corner: which coordinates of the first and the second stored corner it moves.
    static constexpr uint8_t kMasks[4][2] = {{3, 0}, {0, 3}, {1, 2}, {2, 1}};
    const int corner = CornerNear(press);
    if (corner < 0) return {3, 3};
    return {kMasks[corner][0], kMasks[corner][1]};
}

void COverlayEllipse::DrawShape(ICanvas& canvas) {
    const CanvasPoint centre{(m_corners[0].x + m_corners[1].x) / 2,
                             (m_corners[0].y + m_corners[1].y) / 2};
    const float rx = std::abs(m_corners[1].x - m_corners[0].x) / 2;
    const float ry = std::abs(m_corners[1].y - m_corners[0].y) / 2;
    // A polygon with sides of about 8 pixels: within a quarter pixel of the curve at a radius
    // of 30, and the cost of an outline is per side.
    const double around = 2 * kPi * std::sqrt((double(rx) * rx + double(ry) * ry) / 2);
    const int sides = std::clamp(int(around / 8), 16, 2048);
    std::vector<CanvasPoint> outline(size_t(sides) + 1);
    for (int i = 0; i <= sides; ++i) {
        const double t = 2 * kPi * i / sides;
        outline[size_t(i)] = {centre.x + float(rx * std::cos(t)),
                              centre.y + float(ry * std::sin(t))};
    }
    DrawOutlined(canvas, outline, LineColour());
    for (int i = 0; i < 4; ++i)
        DrawCross(canvas, m_corners[i], HandleColour(i));
}

}  // namespace vexel
