// The fused overlay's colours and placement. A marker sphere sampled on a coarse overlay plane
// (2 mm pixels, another field of view) must light up the base picture where the sphere's
// centre projects, within one base pixel, for head-first, feet-first, prone and both sagittal
// orientations with anisotropic base pixels, an overlay whose rows run the other way, and
// nowhere 30 mm away.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "phantom/geometry_series.h"
#include "volume/fusion_overlay.h"

namespace vexel {
namespace {

using phantom::Vec3;

TEST(FusionColours, TableAndWindow) {
    const CFusionColourTable table;
    EXPECT_EQ(table.Entry(0), 0u);  // transparent at the low end
    EXPECT_EQ(table.Entry(16384), 0x800019FFu);
    EXPECT_EQ(table.Entry(65535), 0xC0FF0000u);
    for (uint32_t e = 0; e < CFusionColourTable::kEntries; e += 997)
        EXPECT_EQ(table.Entry(e) >> 24 & 0x0F, 0u) << e;
    EXPECT_EQ(table.Colour(2500, 0, 10000), 0x800019FFu);
    EXPECT_EQ(table.Colour(-1, 0, 10000), 0u);
    EXPECT_EQ(table.Colour(20000, 0, 10000), 0xC0FF0000u);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& [value, low, high] :
         {std::array<double, 3>{nan, 0, 1}, {5, nan, 10}, {5, 0, inf}, {5, 10, 10}, {5, 10, 0}})
        EXPECT_EQ(table.Colour(value, low, high), 0u) << value << " " << low << " " << high;
}

// A plane through `through` with its pixel (column x, row y) there.
PlaneGeometry PlaneAt(const Vec3& through, Vector3 row, Vector3 column, double rowSpacing,
                      double columnSpacing, uint32_t columns, uint32_t rows, double x, double y) {
    PlaneGeometry p;
    p.row = row;
    p.column = column;
    p.rowSpacing = rowSpacing;
    p.columnSpacing = columnSpacing;
    p.columns = columns;
    p.rows = rows;
    for (int i = 0; i < 3; ++i)
        p.position[i] = (&through.x)[i] - x * columnSpacing * row[i] - y * rowSpacing * column[i];
    return p;
}

TEST(FusionPlacement, TheMarkerLightsUpWhereItProjects) {
    const struct {
        const char* what;
        Vector3 row, column;
    } orientations[] = {
        {"head first supine", {1, 0, 0}, {0, 1, 0}},
        {"feet first supine", {-1, 0, 0}, {0, 1, 0}},
        {"prone", {-1, 0, 0}, {0, -1, 0}},
        {"sagittal, normal to the right", {0, 1, 0}, {0, 0, -1}},
        {"sagittal, normal to the left", {0, -1, 0}, {0, 0, -1}},
    };
    const Vec3 centre = {25, -10, 28};
    phantom::GeometryContent content;
    content.spheres = {{centre, 4, 1000}};
    const CFusionColourTable table;
    for (const auto& o : orientations)
        for (const bool mirrored : {false, true}) {
            SCOPED_TRACE(std::string(o.what) + (mirrored ? ", overlay mirrored" : ""));
            // Base: 0.9 mm between columns, 1.2 mm between rows, the marker at (70.3, 40.6).
            const PlaneGeometry base =
                PlaneAt(centre, o.row, o.column, 1.2, 0.9, 160, 100, 70.3, 40.6);
            // Overlay: 2 mm pixels, another field of view, its rows running either way.
            const Vector3 overlayRow = mirrored ? Vector3{-o.row[0], -o.row[1], -o.row[2]} : o.row;
            const PlaneGeometry overlay =
                PlaneAt(centre, overlayRow, o.column, 2, 2, 64, 64, 21.7, 38.2);
            std::vector<float> values(size_t(overlay.columns) * overlay.rows);
            for (uint32_t y = 0; y < overlay.rows; ++y)
                for (uint32_t x = 0; x < overlay.columns; ++x) {
                    Vec3 p;
                    for (int i = 0; i < 3; ++i)
                        (&p.x)[i] = overlay.position[i] + x * 2 * overlay.row[i] +
                                    y * 2 * overlay.column[i];
                    values[size_t(y) * overlay.columns + x] =
                        float(phantom::GeometryValueAt(content, p));
                }
            const auto mapping = MapBaseToOverlay(base, overlay);
            ASSERT_TRUE(mapping);
            std::vector<uint32_t> picture(size_t(base.columns) * base.rows, 0);
            BlendOverlay(*mapping, {values.data(), overlay.columns, overlay.rows}, 0, 1000, table,
                         picture.data(), base.columns, base.rows);
            // Parallel planes take a shorter path; nudged by 1e-300, which moves no coordinate,
            // the mapping takes the general one, which must give the same picture.
            OverlayMapping general = *mapping;
            general.perRow[0] += 1e-300;
            general.perColumn[1] += 1e-300;
            std::vector<uint32_t> generalPicture(picture.size(), 0);
            BlendOverlay(general, {values.data(), overlay.columns, overlay.rows}, 0, 1000, table,
                         generalPicture.data(), base.columns, base.rows);
            EXPECT_EQ(generalPicture, picture);
            double sx = 0, sy = 0, weight = 0;
            for (uint32_t y = 0; y < base.rows; ++y)
                for (uint32_t x = 0; x < base.columns; ++x) {
                    const uint32_t c = picture[size_t(y) * base.columns + x];
                    const double w = (c >> 16 & 0xFF) + (c >> 8 & 0xFF) + (c & 0xFF);
                    sx += w * x;
                    sy += w * y;
                    weight += w;
                    // 30 mm away nothing shows.
                    if (std::hypot((x - 70.3) * 0.9, (y - 40.6) * 1.2) > 30) {
                        ASSERT_EQ(c, 0u) << x << "," << y;
                    }
                }
            ASSERT_GT(weight, 0);
            EXPECT_NEAR(sx / weight, 70.3, 1.0);
            EXPECT_NEAR(sy / weight, 40.6, 1.0);
        }
}

}  // namespace
}  // namespace vexel
