// The view geometry: zoom and pan limits and resizes (the screen/image mapping in both
// directions is checked with the rendered markers).
#include <gtest/gtest.h>

#include <limits>

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

}  // namespace
}  // namespace vexel
