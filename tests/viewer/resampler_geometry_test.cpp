// The view geometry: rendered single bright pixels, for every rotation, mirror and zoom, peak
// at the screen pixel that contains ImageToScreen of their centre, and the screen/image
// mapping is its own inverse; zoom and pan limits and resizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "imaging/dicom_frame.h"
#include "viewer/display_lut.h"
#include "viewer/resampler.h"
#include "viewer_test_support.h"

namespace vexel {
namespace {

constexpr int kWidth = 61;
constexpr int kHeight = 43;

std::vector<test::Marker> Markers() {
    std::vector<test::Marker> markers;
    for (int y = 4; y < kHeight; y += 9)
        for (int x = 3; x < kWidth; x += 9)
            markers.push_back({x, y});
    return markers;
}

struct LandingCase {
    uint32_t rotation;
    bool horizontal;
    bool vertical;
    float zoom;
    int anchorX;
    int anchorY;
};

void PrintTo(const LandingCase& c, std::ostream* out) {
    *out << "rotation " << c.rotation << (c.horizontal ? " H" : "") << (c.vertical ? " V" : "")
         << " zoom " << c.zoom << " anchor " << c.anchorX << "," << c.anchorY;
}

std::vector<LandingCase> LandingCases() {
    std::vector<LandingCase> cases;
    for (uint32_t rotation : {0u, 90u, 180u, 270u})
        for (int mirrors = 0; mirrors < 4; ++mirrors)
            for (float zoom : {0.37f, 1.0f, 1.5f, 2.25f, 7.9f})
                for (int anchor : {31, 50})
                    cases.push_back({rotation, (mirrors & 1) != 0, (mirrors & 2) != 0, zoom, anchor,
                                     anchor + 7});
    return cases;
}

uint32_t Grey(const test::CGuardedBitmap& bitmap, int x, int y) {
    return bitmap.At(x, y) & 0xFF;
}

class MarkerLanding : public testing::TestWithParam<LandingCase> {};

TEST_P(MarkerLanding, PeaksWhereImageToScreenPoints) {
    static test::OpenedImage opened =
        test::OpenMarkerImage("markers", kWidth, kHeight, Markers(), 4000);
    ASSERT_NE(opened.image, nullptr);
    const LandingCase& c = GetParam();
    const ViewGeometry g = test::MakeView(kWidth, kHeight, 101, 77, c.rotation, c.horizontal,
                                          c.vertical, c.zoom, c.anchorX, c.anchorY);
    CDisplayLUT lut;
    lut.SetWindow(2000, 4000, false, true);
    const test::CGuardedBitmap bitmap = test::RenderGreyChecked(opened.image->Frame(0), g, lut, 2);
    ASSERT_FALSE(HasFailure());
    int checked = 0;
    for (const test::Marker& m : Markers()) {
        const auto exact = ImageToScreenExact(g, float(m.x) + 0.5f, float(m.y) + 0.5f);
        const auto rounded = ImageToScreen(g, float(m.x) + 0.5f, float(m.y) + 0.5f);
        ASSERT_TRUE(exact && rounded);
        const int px = int(std::floor(exact->x)), py = int(std::floor(exact->y));
        EXPECT_TRUE(rounded->x == px || rounded->x == px + 1);
        EXPECT_TRUE(rounded->y == py || rounded->y == py + 1);
        const int x = px - g.visibleDestX, y = py - g.visibleDestY;
        if (x < 1 || y < 1 || x >= g.visibleDestWidth - 1 || y >= g.visibleDestHeight - 1) {
            continue;
        }
        ++checked;
        const uint32_t peak = Grey(bitmap, x, y);
        EXPECT_GT(peak, 0u) << "marker " << m.x << "," << m.y << " at " << px << "," << py;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                EXPECT_LE(Grey(bitmap, x + dx, y + dy), peak + 1)
                    << "marker " << m.x << "," << m.y << " expected at " << px << "," << py
                    << ", brighter at " << px + dx << "," << py + dy;
            }
        }
    }
    EXPECT_GT(checked, 0);
    // The mapping is inverse both ways: screen to image and back gives the same screen pixel;
    // image to screen and back lands within half a screen pixel of the image point.
    for (int y = g.visibleDestY; y < g.visibleDestY + g.visibleDestHeight; y += 3) {
        for (int x = g.visibleDestX; x < g.visibleDestX + g.visibleDestWidth; x += 3) {
            const auto image = ScreenToImage(g, float(x), float(y));
            const auto screen = image ? ImageToScreen(g, image->x, image->y) : std::nullopt;
            ASSERT_TRUE(screen && screen->x == x && screen->y == y) << "screen " << x << "," << y;
        }
    }
    const float tolerance = 0.5f / g.zoom + 1e-3f;
    for (float y = 0.25f; y < kHeight; y += 2.5f) {
        for (float x = 0.75f; x < kWidth; x += 2.5f) {
            const auto screen = ImageToScreen(g, x, y);
            ASSERT_TRUE(screen);
            const auto image = ScreenToImage(g, float(screen->x), float(screen->y));
            ASSERT_TRUE(image);
            ASSERT_NEAR(image->x, x, tolerance) << "image " << x << "," << y;
            ASSERT_NEAR(image->y, y, tolerance) << "image " << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllOrientations, MarkerLanding, testing::ValuesIn(LandingCases()));

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
