// The analytic content of a geometry series: the value at any patient point.
#include <cmath>

#include "phantom/geometry_series.h"

namespace vexel::phantom {

namespace {

double Coordinate(const Vec3& p, int axis) {
    return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
}

bool InsideCube(const PatientCube& cube, const Vec3& p) {
    const double half = cube.edgeMm / 2;
    return std::abs(p.x - cube.center.x) <= half && std::abs(p.y - cube.center.y) <= half &&
           std::abs(p.z - cube.center.z) <= half;
}

}  // namespace

double GeometryValueAt(const GeometryContent& content, const Vec3& p) {
    double value = content.background;
    if (content.ramp)
        value = content.ramp->offset + content.ramp->slopePerMm * Coordinate(p, content.ramp->axis);
    if (content.cube && InsideCube(*content.cube, p)) value = content.cube->value;
    for (const MarkerSphere& sphere : content.spheres) {
        const Vec3 d = p - sphere.center;
        if (Dot(d, d) <= sphere.radiusMm * sphere.radiusMm) value = sphere.value;
    }
    return value;
}

}  // namespace vexel::phantom
