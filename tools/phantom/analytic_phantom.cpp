#include "phantom/analytic_phantom.h"

#include <algorithm>
#include <limits>

namespace vexel::phantom {
namespace {

constexpr double kEndless = std::numeric_limits<double>::infinity();

}  // namespace

Vec3 VolumeGeometry::VoxelCenter(double column, double row, int slice) const {
    // Centred volume: the middle of the grid is the origin.
    return {(column - (columns - 1) / 2.0) * pixelSpacingMm,
            (row - (rows - 1) / 2.0) * RowSpacing(),
            (slice - (slices - 1) / 2.0) * sliceSpacingMm};
}

bool PhantomShape::Contains(const Vec3& p) const {
    const double dx = p.x - center.x;
    const double dy = p.y - center.y;
    const double dz = p.z - center.z;
    if (isRod)
        return dx * dx + dy * dy <= radiusMm * radiusMm && dz * dz <= halfLengthMm * halfLengthMm;
    return dx * dx + dy * dy + dz * dz <= radiusMm * radiusMm;
}

CAnalyticPhantom::CAnalyticPhantom(double scale, double fovRadiusMm)
    : m_scale(scale), m_fovRadius(fovRadiusMm) {
    const double s = scale;
    // Rods run through the whole volume, so that every slice, the first one shown included,
    // has anatomy on it.
    auto rod = [s](const char* name, double x, double y, double radius, double hu, double suv) {
        return PhantomShape{name, true, {x * s, y * s, 0}, radius * s, kEndless, hu, suv};
    };
    auto ball = [s](const char* name, Vec3 c, double radius, double hu, double suv) {
        return PhantomShape{name, false, {c.x * s, c.y * s, c.z * s}, radius * s, 0, hu, suv};
    };
    m_shapes = {
        rod("body", 0, 0, 80, 0, 1.0),  // water, background uptake
        rod("bone", -45, 0, 10, 1000, 1.0),
        ball("hot", {40, 0, 0}, 15, 300, 4.0),
        ball("cold", {0, -40, -30}, 20, 60, 0.2),
        ball("fat", {0, 45, 30}, 12, -100, 1.0),
        ball("lung", {30, 40, -50}, 10, -800, 1.0),
    };
}

CAnalyticPhantom CAnalyticPhantom::ForGeometry(const VolumeGeometry& geometry) {
    const double half =
        std::min({geometry.HalfExtentX(), geometry.HalfExtentY(), geometry.HalfExtentZ()});
    return CAnalyticPhantom(half / 100.0, std::min(geometry.HalfExtentX(), geometry.HalfExtentY()));
}

bool CAnalyticPhantom::InsideFov(const Vec3& p) const {
    return p.x * p.x + p.y * p.y <= m_fovRadius * m_fovRadius;
}

const PhantomShape* CAnalyticPhantom::ShapeAt(const Vec3& p) const {
    if (!InsideFov(p)) return nullptr;
    for (auto it = m_shapes.rbegin(); it != m_shapes.rend(); ++it)
        if (it->Contains(p)) return &*it;
    return nullptr;
}

double CAnalyticPhantom::HuAt(const Vec3& p) const {
    if (!InsideFov(p)) return kOutsideFovHu;
    const PhantomShape* shape = ShapeAt(p);
    return shape ? shape->hu : kAirHu;
}

double CAnalyticPhantom::SuvAt(const Vec3& p) const {
    const PhantomShape* shape = ShapeAt(p);
    return shape ? shape->suv : 0.0;
}

const PhantomShape* CAnalyticPhantom::FindShape(const std::string& name) const {
    for (const PhantomShape& shape : m_shapes)
        if (shape.name == name) return &shape;
    return nullptr;
}

}  // namespace vexel::phantom
