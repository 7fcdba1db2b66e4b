#include "engine/volume_geometry.h"

#include "engine/volume_record.h"

namespace vexel {

std::optional<PlaneAxes> AxesOf(const std::array<float, 6>& o) {
    for (float v : o)
        if (!std::isfinite(v)) return std::nullopt;
    Vec3d row = {o[0], o[1], o[2]}, column = {o[3], o[4], o[5]};
    const double rowLength = Length(row), columnLength = Length(column);
    if (!(rowLength > 1e-6) || !(columnLength > 1e-6)) return std::nullopt;
    for (size_t i = 0; i < 3; ++i) {
        row[i] /= rowLength;
        column[i] /= columnLength;
    }
    Vec3d normal = Cross(row, column);
    const double normalLength = Length(normal);
    if (!(normalLength > 1e-3)) return std::nullopt;
    for (double& v : normal)
        v /= normalLength;
    return PlaneAxes{row, column, normal};
}

int32_t PlaneKindOf(const std::array<float, 6>& o) {
    const double r0 = o[0], r1 = o[1], r2 = o[2], c0 = o[3], c1 = o[4], c2 = o[5];
    const double nx = r1 * c2 - r2 * c1, ny = r2 * c0 - r0 * c2, nz = r0 * c1 - r1 * c0;
    const double ax = std::fabs(nx), ay = std::fabs(ny), az = std::fabs(nz);
    if (ay > ax && ay > az) return kPlaneCoronal;
    if (ax > ay && ax > az) return nx < 0 ? kPlaneSagittalRight : kPlaneSagittalLeft;
    if (az > ax && az > ay) return nz > 0 ? kPlaneAxialFeet : kPlaneAxialHead;
    return kPlaneOblique;
}

const char* PlaneKindName(int32_t kind) {
    switch (kind) {
        case kPlaneAxialFeet:
        case kPlaneAxialHead:
            return "axial";
        case kPlaneCoronal:
            return "coronal";
        case kPlaneSagittalRight:
        case kPlaneSagittalLeft:
            return "sagittal";
        case kPlaneOblique:
            return "oblique";
        default:
            return "none";
    }
}

}  // namespace vexel
