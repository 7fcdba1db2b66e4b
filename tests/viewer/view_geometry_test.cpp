// The view geometry: layouts against worked cases, the transform rules, the screen/image
// mapping in both directions for every orientation and zoom, and hostile sizes and zooms.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "resample_test_support.h"
#include "viewer/view_geometry.h"

namespace vexel {
namespace {

using test::MakeView;

TEST(ViewGeometryLayout, FitsWideViewportByHeight) {
    const ViewGeometry g = MakeView(512, 512, 700, 500, 0, false, false, 0, 0, 0);
    EXPECT_FLOAT_EQ(g.zoom, 500.0f / 512.0f);
    EXPECT_EQ(g.displayedWidth, 500);
    EXPECT_EQ(g.displayedHeight, 500);
    EXPECT_EQ(g.originX, 100);
    EXPECT_EQ(g.originY, 0);
    EXPECT_EQ(g.visibleDestX, 100);
    EXPECT_EQ(g.visibleDestWidth, 500);
    EXPECT_EQ(g.visibleSourceWidth, 512);
    EXPECT_EQ(g.visibleSourceHeight, 512);
}

TEST(ViewGeometryLayout, ActualSizeCentresLargeImage) {
    ViewGeometry g = MakeView(513, 300, 200, 400, 0, false, false, 0, 0, 0);
    ASSERT_TRUE(LayoutActualSize(g));
    EXPECT_EQ(g.zoom, 1.0f);
    EXPECT_EQ(g.originX, (200 - 513) / 2);
    EXPECT_EQ(g.visibleSourceX, 156);
    EXPECT_EQ(g.visibleSourceWidth, 200);
    EXPECT_EQ(g.visibleDestX, 0);
    EXPECT_EQ(g.visibleDestWidth, 200);
    EXPECT_EQ(g.originY, 50);
    EXPECT_EQ(g.visibleDestY, 50);
    EXPECT_EQ(g.visibleDestHeight, 300);
}

TEST(ViewGeometryLayout, ZoomStaysBetweenTenPixelsAndFiftyTimes) {
    const ViewGeometry fitted = MakeView(300, 100, 400, 400, 0, false, false, 0, 0, 0);
    ViewGeometry g = fitted;
    ASSERT_TRUE(LayoutZoomAbout(g, fitted, 0.001f, 200, 200));
    EXPECT_EQ(g.displayedHeight, 10);
    EXPECT_EQ(g.displayedWidth, 30);  // the aspect is kept
    ASSERT_TRUE(LayoutZoomAbout(g, fitted, 1e30f, 200, 200));
    EXPECT_EQ(g.zoom, kMaxZoom);
    ViewGeometry drag = fitted;
    ASSERT_TRUE(LayoutZoomByDrag(drag, fitted, 1000000, 200, 200));
    EXPECT_EQ(drag.zoom, kMaxZoom);
    EXPECT_GE(drag.visibleDestWidth, 1);
}

TEST(ViewGeometryLayout, RefusesZoomsThatAreNotNumbers) {
    const ViewGeometry fitted = MakeView(300, 100, 400, 400, 0, false, false, 0, 0, 0);
    for (float factor : {0.0f, -2.0f, std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity()}) {
        ViewGeometry g = fitted;
        EXPECT_FALSE(LayoutZoomAbout(g, fitted, factor, 10, 10)) << factor;
        EXPECT_EQ(g.zoom, fitted.zoom);
    }
}

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

TEST(ViewGeometryLayout, NothingToShowWithoutPixels) {
    for (const auto& [iw, ih, vw, vh] : std::vector<std::array<int, 4>>{
             {0, 0, 100, 100}, {10, 10, 0, 0}, {10, 10, 0, 100}, {0, 5, 10, 10}}) {
        ViewGeometry g = MakeView(iw, ih, vw, vh, 0, false, false, 2.0f, 0, 0);
        EXPECT_EQ(g.zoom, 0.0f);
        EXPECT_EQ(g.visibleDestWidth, 0);
        EXPECT_EQ(g.visibleDestHeight, 0);
        EXPECT_FALSE(ScreenToImage(g, 1, 1));
        EXPECT_FALSE(ImageToScreen(g, 1, 1));
        EXPECT_FALSE(LayoutActualSize(g));
    }
}

TEST(ViewGeometryLayout, TinyFitKeepsOneDisplayedPixel) {
    const ViewGeometry g = MakeView(1, 5000, 7, 3, 0, false, false, 0, 0, 0);
    EXPECT_EQ(g.displayedWidth, 1);
    EXPECT_EQ(g.visibleDestWidth, 1);
    EXPECT_EQ(g.visibleSourceWidth, 1);
    EXPECT_EQ(g.visibleSourceHeight, 5000);
}

struct TransformStep {
    int32_t rotate;
    bool flipVertical;
    bool flipHorizontal;
};

ViewGeometry Transformed(const std::vector<TransformStep>& steps) {
    ViewGeometry g;
    SetImageSize(g, 30, 20);
    for (const TransformStep& step : steps)
        ApplyTransform(g, step.rotate, step.flipVertical, step.flipHorizontal, false);
    return g;
}

TEST(ViewGeometryTransform, FlipsCombineIntoRotations) {
    const ViewGeometry both = Transformed({{0, false, true}, {0, true, false}});
    EXPECT_EQ(both.rotation, 180u);
    EXPECT_FALSE(both.horizontalMirror || both.verticalMirror);
    const ViewGeometry turned = Transformed({{180, false, false}, {0, false, true}});
    EXPECT_EQ(turned.rotation, 0u);
    EXPECT_FALSE(turned.horizontalMirror);
    EXPECT_TRUE(turned.verticalMirror);
    const ViewGeometry back = Transformed({{90, false, false}, {-180, false, false}});
    EXPECT_EQ(back.rotation, 270u);
    EXPECT_EQ(back.rotatedWidth, 20);
    EXPECT_EQ(back.rotatedHeight, 30);
    ViewGeometry reset = back;
    EXPECT_TRUE(ApplyTransform(reset, 0, false, false, true));
    EXPECT_EQ(reset.rotation, 0u);
    EXPECT_FALSE(ApplyTransform(reset, 0, false, false, true));
    EXPECT_FALSE(ApplyTransform(reset, 45, false, false, false));
}

// At 90 degrees a flip along the screen's horizontal axis mirrors the image's vertical axis.
TEST(ViewGeometryTransform, FlipActsAlongTheScreen) {
    ViewGeometry g = Transformed({{90, false, false}});
    const auto before =
        ImageToScreenExact(MakeView(30, 20, 101, 77, 90, false, false, 0, 0, 0), 3.5f, 4.5f);
    ApplyTransform(g, 0, false, true, false);
    const ViewGeometry flipped =
        MakeView(30, 20, 101, 77, g.rotation, g.horizontalMirror, g.verticalMirror, 0, 0, 0);
    const auto after = ImageToScreenExact(flipped, 3.5f, 4.5f);
    ASSERT_TRUE(before && after);
    EXPECT_NEAR(after->y, before->y, 1e-3);
    EXPECT_NEAR(after->x, float(2 * flipped.visibleDestX) + flipped.scaledWidth - before->x, 1e-3);
}

TEST(ViewGeometryOrientation, CodesFollowMirrorsAndRotation) {
    for (uint32_t r = 0; r < 4; ++r) {
        EXPECT_EQ(OrientationCode(false, false, r * 90), r);
        EXPECT_EQ(OrientationCode(true, false, r * 90), 4 + r);
        EXPECT_EQ(OrientationCode(false, true, r * 90), 4 + (r + 2) % 4);
        EXPECT_EQ(OrientationCode(true, true, r * 90), (r + 2) % 4);
    }
}

struct MappingCase {
    uint32_t rotation;
    bool horizontal;
    bool vertical;
    float zoom;
};

std::string MappingName(const testing::TestParamInfo<MappingCase>& info) {
    std::ostringstream name;
    name << "R" << info.param.rotation << (info.param.horizontal ? "H" : "")
         << (info.param.vertical ? "V" : "") << "_Z" << int(info.param.zoom * 100);
    return name.str();
}

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

INSTANTIATE_TEST_SUITE_P(AllOrientations, ScreenImageMapping, testing::ValuesIn(MappingCases()),
                         MappingName);

}  // namespace
}  // namespace vexel
