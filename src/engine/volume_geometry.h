// Small vector helpers of the volume code, in patient coordinates (mm).
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>

namespace vexel {

using Vec3d = std::array<double, 3>;

inline Vec3d Sub(const Vec3d& a, const Vec3d& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
inline double Dot(const Vec3d& a, const Vec3d& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
inline double Length(const Vec3d& a) {
    return std::sqrt(Dot(a, a));
}
inline Vec3d Cross(const Vec3d& r, const Vec3d& c) {
    return {r[1] * c[2] - r[2] * c[1], r[2] * c[0] - r[0] * c[2], r[0] * c[1] - r[1] * c[0]};
}

// The unit row, column and normal of an orientation; none when a value is not finite, a
// direction has no length or the two are (nearly) parallel.
struct PlaneAxes {
    Vec3d row, column, normal;
};
std::optional<PlaneAxes> AxesOf(const std::array<float, 6>& orientation);

// Plane kind of an orientation's normal (see PlaneKind).
int32_t PlaneKindOf(const std::array<float, 6>& orientation);

}  // namespace vexel
