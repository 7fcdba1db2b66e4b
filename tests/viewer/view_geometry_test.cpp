// The view geometry: zoom and pan limits, resizes, and the screen/image mapping in both
// directions for every orientation and zoom.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "resample_test_support.h"
#include "viewer/view_geometry.h"

namespace vexel {
namespace {

using test::MakeView;

TEST(ViewGeometryLayout, FarPanLeavesOneDisplayedPixelVisible) {
    const ViewGeometry start = MakeView(64, 48, 301, 203, 0, false, false, 3.0f, 150, 100);
    for (int direction : {-1, 1}) {
        ViewGeometry g = start;
        ASSERT_TRUE(LayoutPan(g, start, direction * std::numeric_limits<int32_t>::max(),
                              direction * std::numeric_limits<int32_t>::max()));
        EXPECT_EQ(g.originX, direction > 0 ? 300 : 1 - g.displayedWidth);
        EXPECT_EQ(g.originY, direction > 0 ? 202 : 1 - g.displayedHeight);
        EXPECT_GE(g.visibleDestWidth, 1);
        EXPECT_GE(g.visibleSourceWidth, 1);
        EXPECT_GE(g.visibleSourceX, 0);
        EXPECT_LE(g.visibleSourceX + g.visibleSourceWidth, 64);
        EXPECT_LE(g.visibleSourceY + g.visibleSourceHeight, 48);
    }
}

TEST(ViewGeometryLayout, ResizeKeepsTheViewedPoint) {
    const ViewGeometry fitted = MakeView(100, 100, 200, 200, 0, false, false, 0, 0, 0);
    ViewGeometry zoomed = fitted;
    ASSERT_TRUE(LayoutZoomAbout(zoomed, fitted, 4.0f, 50, 50));
    const auto before = ScreenToImage(zoomed, 100, 100);
    ViewGeometry resized = zoomed;
    ASSERT_TRUE(LayoutResizeKeepingView(resized, zoomed, 400, 400));
    EXPECT_FLOAT_EQ(resized.zoom, 8.0f);
    const auto after = ScreenToImage(resized, 200, 200);
    ASSERT_TRUE(before && after);
    EXPECT_NEAR(after->x, before->x, 0.2);
    EXPECT_NEAR(after->y, before->y, 0.2);
    ViewGeometry fromEmpty = zoomed;
    EXPECT_TRUE(LayoutResizeKeepingView(fromEmpty, ViewGeometry{}, 400, 400));
}

TEST(ViewGeometryLayout, GrowingATinyZoomedWindowStaysWithinTheZoomLimit) {
    // A one-pixel image at the largest zoom in a one-pixel window, then a large window.
    const ViewGeometry fitted = MakeView(1, 1, 1, 1, 0, false, false, 0, 0, 0);
    ViewGeometry zoomed = fitted;
    ASSERT_TRUE(LayoutZoomAbout(zoomed, fitted, kMaxZoom, 0, 0));
    ViewGeometry resized = zoomed;
    ASSERT_TRUE(LayoutResizeKeepingView(resized, zoomed, 116, 109));
    EXPECT_LE(resized.zoom, 116.0f) << "no more than the fit of the new window";
    EXPECT_LE(resized.visibleDestWidth, 116 + int32_t(resized.zoom));
    EXPECT_LE(resized.visibleDestHeight, 109 + int32_t(resized.zoom));
    // A normal image keeps the 50x limit however much the window grows.
    const ViewGeometry small = MakeView(64, 64, 20, 20, 0, false, false, kMaxZoom, 10, 10);
    ViewGeometry grown = small;
    ASSERT_TRUE(LayoutResizeKeepingView(grown, small, 2000, 2000));
    EXPECT_EQ(grown.zoom, kMaxZoom);
    EXPECT_LE(grown.visibleDestWidth, 2000 + int32_t(kMaxZoom));
}

struct MappingCase {
    uint32_t rotation;
    bool horizontal;
    bool vertical;
    float zoom;
};

std::vector<MappingCase> MappingCases() {
    std::vector<MappingCase> cases;
    for (uint32_t rotation : {0u, 90u, 180u, 270u})
        for (int mirrors = 0; mirrors < 4; ++mirrors)
            for (float zoom : {0.37f, 1.0f, 1.5f, 2.25f, 7.9f})
                cases.push_back({rotation, (mirrors & 1) != 0, (mirrors & 2) != 0, zoom});
    return cases;
}

class ScreenImageMapping : public testing::TestWithParam<MappingCase> {};

// Screen to image and back returns the same screen pixel; image to screen and back lands
// within half a screen pixel of the image point.
TEST_P(ScreenImageMapping, IsInverseBothWays) {
    const MappingCase& c = GetParam();
    const ViewGeometry g =
        MakeView(61, 43, 101, 77, c.rotation, c.horizontal, c.vertical, c.zoom, 37, 29);
    ASSERT_GT(g.zoom, 0);
    for (int y = g.visibleDestY; y < g.visibleDestY + g.visibleDestHeight; y += 3) {
        for (int x = g.visibleDestX; x < g.visibleDestX + g.visibleDestWidth; x += 3) {
            const auto image = ScreenToImage(g, float(x), float(y));
            ASSERT_TRUE(image);
            const auto screen = ImageToScreen(g, image->x, image->y);
            ASSERT_TRUE(screen);
            ASSERT_EQ(screen->x, x) << "screen " << x << "," << y;
            ASSERT_EQ(screen->y, y) << "screen " << x << "," << y;
        }
    }
    const float tolerance = 0.5f / g.zoom + 1e-3f;
    for (float y = 0.25f; y < 43; y += 2.5f) {
        for (float x = 0.75f; x < 61; x += 2.5f) {
            const auto screen = ImageToScreen(g, x, y);
            ASSERT_TRUE(screen);
            const auto image = ScreenToImage(g, float(screen->x), float(screen->y));
            ASSERT_TRUE(image);
            ASSERT_NEAR(image->x, x, tolerance) << "image " << x << "," << y;
            ASSERT_NEAR(image->y, y, tolerance) << "image " << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllOrientations, ScreenImageMapping, testing::ValuesIn(MappingCases()));

}  // namespace
}  // namespace vexel
