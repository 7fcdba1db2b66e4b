// Reference lines against intersections worked out by hand: an axial slice on a coronal
// image, a plane through two opposite corners of the source (the crossings at the corners
// count once), and every case that must draw nothing.
#include <gtest/gtest.h>

#include <cmath>

#include "volume/plane_geometry.h"

namespace vexel {
namespace {

PlaneGeometry Plane(Vector3 position, Vector3 row, Vector3 column, double rowSpacing = 1,
                    double columnSpacing = 1, uint32_t size = 100) {
    PlaneGeometry plane;
    plane.position = position;
    plane.row = row;
    plane.column = column;
    plane.rowSpacing = rowSpacing;
    plane.columnSpacing = columnSpacing;
    plane.rows = plane.columns = size;
    plane.studyUid = "1.2.3";
    plane.frameOfReferenceUid = "1.2.3.4";
    return plane;
}

// Covers x and y from -50 to 50 mm at height z.
PlaneGeometry Axial(double z) {
    return Plane({-49.5, -49.5, z}, {1, 0, 0}, {0, 1, 0});
}
// Covers x from -50 to 50 and z from 50 down to -50, at y = 0.
const PlaneGeometry kCoronal = Plane({-49.5, 0, 49.5}, {1, 0, 0}, {0, 0, -1});

void ExpectLine(const std::optional<std::pair<ImagePoint, ImagePoint>>& line, ImagePoint a,
                ImagePoint b) {
    ASSERT_TRUE(line.has_value());
    auto [p, q] = *line;
    if (std::hypot(p.x - a.x, p.y - a.y) > std::hypot(q.x - a.x, q.y - a.y)) std::swap(p, q);
    EXPECT_NEAR(p.x, a.x, 1e-3);
    EXPECT_NEAR(p.y, a.y, 1e-3);
    EXPECT_NEAR(q.x, b.x, 1e-3);
    EXPECT_NEAR(q.y, b.y, 1e-3);
}

TEST(ReferenceLine, AnAxialSliceCutsACoronalImageAtItsHeight) {
    // z = 10 lies on the coronal row whose centre is at z = 10: row 39.5 + the half pixel; the
    // line spans the axial image's outer edges, x = -50 .. 50.
    ExpectLine(ReferenceLine(Axial(10), kCoronal), {0, 40}, {100, 40});
    ExpectLine(ReferenceLine(Axial(-49.75), kCoronal), {0, 99.75f}, {100, 99.75f});
    // And the coronal plane cuts the axial image along its middle row.
    ExpectLine(ReferenceLine(kCoronal, Axial(10)), {0, 50}, {100, 50});
}

TEST(ReferenceLine, APlaneThroughTwoCornersGivesThoseCornersOnce) {
    // Row and column climb and fall by the same height across the image (pixels 1 x sqrt 2
    // mm), so the top-left and bottom-right corners share one height.
    const double h = std::sqrt(0.5);
    const PlaneGeometry source = Plane({0, 0, 0}, {h, 0, h}, {0.5, h, -0.5}, std::sqrt(2.0), 1, 20);
    const Vector3 topLeft = {-0.5 * h - 0.5 * std::sqrt(2.0) * 0.5, -0.5 * std::sqrt(2.0) * h,
                             -0.5 * h + 0.5 * std::sqrt(2.0) * 0.5};
    const PlaneGeometry target = Plane({-30, -30, topLeft[2]}, {1, 0, 0}, {0, 1, 0});
    const Vector3 bottomRight = {topLeft[0] + 20 * h + 20 * std::sqrt(2.0) * 0.5,
                                 topLeft[1] + 20 * std::sqrt(2.0) * h, topLeft[2]};
    const auto pixel = [&](const Vector3& p) {
        return ImagePoint{float(p[0] + 30 + 0.5), float(p[1] + 30 + 0.5)};
    };
    ExpectLine(ReferenceLine(source, target), pixel(topLeft), pixel(bottomRight));
}

TEST(ReferenceLine, NoLineBetweenPlanesThatMustNotBeLinked) {
    PlaneGeometry otherFrame = Axial(0);
    otherFrame.frameOfReferenceUid = "9.9";
    PlaneGeometry noFrame = Axial(0);
    noFrame.frameOfReferenceUid.clear();
    PlaneGeometry otherStudy = Axial(0);
    otherStudy.studyUid = "9.8";
    const PlaneGeometry coronalCases[] = {otherFrame, noFrame, otherStudy};
    for (const PlaneGeometry& source : coronalCases)
        EXPECT_FALSE(ReferenceLine(source, kCoronal).has_value()) << source.frameOfReferenceUid;
    // Parallel, facing the other way, and 30 degrees apart: too close to parallel.
    EXPECT_FALSE(ReferenceLine(Axial(5), Axial(0)).has_value());
    EXPECT_FALSE(ReferenceLine(Plane({-49.5, 49.5, 5}, {1, 0, 0}, {0, -1, 0}), Axial(0)));
    const double c = std::cos(0.5236), s = std::sin(0.5236);
    EXPECT_FALSE(ReferenceLine(Plane({-49.5, -49.5, 0}, {1, 0, 0}, {0, c, s}), Axial(0)));
    // A slice beyond the other image: no crossing inside it.
    EXPECT_FALSE(ReferenceLine(Axial(60), kCoronal).has_value());
}

}  // namespace
}  // namespace vexel
