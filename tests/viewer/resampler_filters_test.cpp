// Rendered grey levels against plain references written in the test over the linear VOI
// function: at zoom 1 every pixel of signed, unsigned, MONOCHROME1, rescaled and negative
// images, and overlays; bilinear enlargement and area-average reduction for panned views of
// a noise image (drawn by three threads) and for sources one pixel wide or high; when stage 1
// runs again and when it does not. (Colour is compared with DCMTK by the cli render tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "imaging/dicom_frame.h"
#include "viewer/display_lut.h"
#include "viewer/resampler.h"
#include "viewer_test_support.h"

namespace vexel {
namespace {

constexpr int kWidth = 150;
constexpr int kHeight = 120;
constexpr float kCentre = 2000.3f;
constexpr float kWidthOfWindow = 4001;

test::HandImage NoiseImage() {
    test::HandImage hand;
    hand.columns = kWidth;
    hand.rows = kHeight;
    uint32_t state = 12345;
    for (int i = 0; i < kWidth * kHeight; ++i) {
        state = state * 1103515245u + 12345u;
        hand.pixels.push_back(int32_t((state >> 8) % 4200));
    }
    return hand;
}

test::OpenedImage& Noise() {
    static test::OpenedImage opened = test::OpenHandImage(NoiseImage(), "noise");
    return opened;
}

test::LevelImage NoiseLevels() {
    const test::HandImage hand = NoiseImage();
    test::LevelImage levels;
    levels.width = kWidth;
    levels.height = kHeight;
    for (int32_t value : hand.pixels) {
        const auto expected = test::LinearVoi(value, kCentre, kWidthOfWindow, false);
        EXPECT_FALSE(expected.ambiguous) << "choose another window";
        levels.levels.push_back(expected.level);
    }
    return levels;
}

struct FilterCase {
    float zoom;
    int anchorX;
    int anchorY;
};

class FilterMatchesReference : public testing::TestWithParam<FilterCase> {};

// Every visible pixel grey and within one level of the bilinear reference when enlarging,
// the area average when reducing.
void ExpectMatchesReference(CDicomFrame* frame, const test::LevelImage& levels,
                            const ViewGeometry& g, const CDisplayLUT& lut, uint32_t threads) {
    const test::CGuardedBitmap bitmap = test::RenderGreyChecked(frame, g, lut, threads);
    if (testing::Test::HasFailure()) return;
    for (int j = 0; j < g.visibleDestHeight; ++j) {
        for (int i = 0; i < g.visibleDestWidth; ++i) {
            const double expected = g.zoom > 1 ? test::ReferenceBilinear(levels, g, i, j)
                                               : test::ReferenceAreaAverage(levels, g, i, j);
            const uint32_t pixel = bitmap.At(i, j);
            ASSERT_EQ(pixel, (pixel & 0xFF) * 0x010101u);
            ASSERT_NEAR(double(pixel & 0xFF), expected, 1.0) << "destination " << i << "," << j;
        }
    }
}

TEST_P(FilterMatchesReference, WithinOneGreyLevel) {
    const FilterCase& c = GetParam();
    ASSERT_NE(Noise().image, nullptr);
    static const test::LevelImage levels = NoiseLevels();
    const ViewGeometry g =
        test::MakeView(kWidth, kHeight, 101, 77, 0, false, false, c.zoom, c.anchorX, c.anchorY);
    ASSERT_EQ(g.zoom, c.zoom);
    CDisplayLUT lut;
    lut.SetWindow(kCentre, kWidthOfWindow, false, true);
    ExpectMatchesReference(Noise().image->Frame(0), levels, g, lut, 3);
}

INSTANTIATE_TEST_SUITE_P(Zooms, FilterMatchesReference,
                         testing::Values(FilterCase{1.5f, 50, 38}, FilterCase{2.25f, 17, 60},
                                         FilterCase{7.9f, 80, 20}, FilterCase{7.9f, 3, 3},
                                         FilterCase{0.37f, 50, 38}, FilterCase{0.5f, 50, 38},
                                         FilterCase{0.8f, 10, 70}, FilterCase{0.93f, 90, 5}));

struct ThinCase {
    int width;
    int height;
    int viewportWidth;
    int viewportHeight;
    float zoom;  // 0: fit
};

class ThinSource : public testing::TestWithParam<ThinCase> {};

// Stays inside the source (ASan watches) and still matches the reference filters.
TEST_P(ThinSource, RendersLikeTheReference) {
    const ThinCase& c = GetParam();
    test::HandImage hand;
    hand.columns = uint16_t(c.width);
    hand.rows = uint16_t(c.height);
    for (int i = 0; i < c.width * c.height; ++i)
        hand.pixels.push_back((i * 37) % 256);
    test::OpenedImage opened = test::OpenHandImage(hand, "thin-" + std::to_string(c.width) + "x" +
                                                             std::to_string(c.height) + "-" +
                                                             std::to_string(c.viewportWidth));
    ASSERT_NE(opened.image, nullptr);
    test::LevelImage levels{c.width, c.height, {}};
    for (int32_t v : hand.pixels)
        levels.levels.push_back(test::LinearVoi(v, 127.3f, 256.4f, false).level);
    const ViewGeometry g =
        test::MakeView(c.width, c.height, c.viewportWidth, c.viewportHeight, 0, false, false,
                       c.zoom, c.viewportWidth / 2, c.viewportHeight / 2);
    ASSERT_GT(g.zoom, 0);
    CDisplayLUT lut;
    lut.SetWindow(127.3f, 256.4f, false, true);
    ExpectMatchesReference(opened.image->Frame(0), levels, g, lut, 2);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ThinSource,
                         testing::Values(ThinCase{1, 9, 101, 77, 7.9f},
                                         ThinCase{9, 1, 101, 77, 7.9f}, ThinCase{1, 1, 31, 17, 0},
                                         ThinCase{1, 1, 5, 5, 50}, ThinCase{1, 500, 100, 100, 0},
                                         ThinCase{500, 1, 100, 100, 0}, ThinCase{2, 5, 7, 9, 0},
                                         ThinCase{1, 9, 3, 3, 0}));

TEST(ResamplerCache, StageOneRunsOnlyWhenItsInputsChange) {
    test::OpenedImage opened = test::OpenMarkerImage("cache", 40, 30, {{5, 5}}, 100);
    ASSERT_NE(opened.image, nullptr);
    CDicomFrame* frame = opened.image->Frame(0);
    CDisplayLUT lut;
    lut.SetWindow(50, 100, false, true);
    CResampler resampler(2);
    const ViewGeometry fitted = test::MakeView(40, 30, 201, 151, 0, false, false, 0, 0, 0);
    resampler.SetGeometry(fitted);
    test::CGuardedBitmap bitmap(400, 400);
    const auto render = [&] { return resampler.RenderGrey(frame, bitmap.View(), &lut); };
    ASSERT_TRUE(render());
    EXPECT_EQ(resampler.Stage1Runs(), 1u);
    ViewGeometry moved = fitted;
    ASSERT_TRUE(LayoutZoomAbout(moved, fitted, 3.0f, 100, 75));
    resampler.SetGeometry(moved);
    ASSERT_TRUE(render());
    ViewGeometry panned = moved;
    ASSERT_TRUE(LayoutPan(panned, moved, 17, -9));
    resampler.SetGeometry(panned);
    ASSERT_TRUE(render());
    EXPECT_EQ(resampler.Stage1Runs(), 1u) << "zoom and pan reuse stage 1";
    lut.SetWindow(60, 100, false, false);
    ASSERT_TRUE(render());
    EXPECT_EQ(resampler.Stage1Runs(), 2u) << "a new window";
    lut.SetNegative(true);
    ASSERT_TRUE(render());
    EXPECT_EQ(resampler.Stage1Runs(), 3u) << "negative";
    resampler.SetGeometry(test::MakeView(40, 30, 201, 151, 90, false, false, 0, 0, 0));
    ASSERT_TRUE(render());
    EXPECT_EQ(resampler.Stage1Runs(), 4u) << "a rotation";
    ASSERT_TRUE(resampler.RenderGreyWithOverlay(frame, bitmap.View(), &lut));
    EXPECT_EQ(resampler.Stage1Runs(), 5u) << "another intermediate";
    // The marker is where the rotated view shows it, after all the reuse.
    const ViewGeometry& g = resampler.Geometry();
    const auto at = ImageToScreenExact(g, 5.5f, 5.5f);
    ASSERT_TRUE(at);
    EXPECT_LT(bitmap.At(int(at->x) - g.visibleDestX, int(at->y) - g.visibleDestY) & 0xFF, 64u)
        << "negative: the marker is dark";
    EXPECT_EQ(bitmap.At(0, 0), 0x00FFFFFFu) << "negative: the background is white";
}

struct GreyCase {
    std::string name;
    bool isSigned;
    std::string photometric;
    double slope, intercept;
    float centre, width;
    bool negative;
};

// Stored values spread over the whole sample range, both ends included.
std::vector<int32_t> SpreadValues(int count, bool isSigned) {
    std::vector<int32_t> values;
    for (int i = 0; i < count; ++i) {
        const auto v = int32_t((uint64_t(i) * 2654435761u) % 65536);
        values.push_back(isSigned ? v - 32768 : v);
    }
    values[0] = isSigned ? -32768 : 0;
    values[1] = isSigned ? 32767 : 65535;
    values[2] = 0;
    return values;
}

// The modality value the display indexes, rounded half up and kept inside the table.
int64_t ModalityValue(int32_t stored, double slope, double intercept) {
    const double value = std::floor(stored * slope + intercept + 0.5);
    return int64_t(std::clamp(value, -65536.0, 65535.0));
}

ViewGeometry ActualSizeView(int width, int height) {
    ViewGeometry g = test::MakeView(width, height, width + 9, height + 4, 0, false, false, 0, 0, 0);
    LayoutActualSize(g);
    return g;
}

class GreyAtZoomOne : public testing::TestWithParam<GreyCase> {};

TEST_P(GreyAtZoomOne, EveryPixelFollowsTheVoiFunction) {
    const GreyCase& c = GetParam();
    test::HandImage hand;
    hand.columns = 29;
    hand.rows = 17;
    hand.isSigned = c.isSigned;
    hand.photometric = c.photometric;
    hand.rescaleSlope = std::to_string(c.slope);
    hand.rescaleIntercept = std::to_string(c.intercept);
    hand.pixels = SpreadValues(29 * 17, c.isSigned);
    test::OpenedImage opened = test::OpenHandImage(hand, "grey-" + c.name);
    ASSERT_NE(opened.image, nullptr);
    const bool monochrome1 = c.photometric == "MONOCHROME1";
    CDisplayLUT lut;
    lut.SetNegative(c.negative);
    lut.SetWindow(c.centre, c.width, monochrome1, true);
    const ViewGeometry g = ActualSizeView(29, 17);
    ASSERT_EQ(g.zoom, 1.0f);
    const test::CGuardedBitmap bitmap = test::RenderGreyChecked(opened.image->Frame(0), g, lut, 2);
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(bitmap.Width(), 29);
    for (int y = 0; y < 17; ++y) {
        for (int x = 0; x < 29; ++x) {
            const int32_t stored = hand.pixels[size_t(y) * 29 + size_t(x)];
            const int64_t value = ModalityValue(stored, c.slope, c.intercept);
            const auto expected =
                test::LinearVoi(value, c.centre, c.width, monochrome1 != c.negative);
            const uint32_t pixel = bitmap.At(x, y);
            const int level = int(pixel & 0xFF);
            ASSERT_EQ(pixel, uint32_t(level) * 0x010101u) << "pixel " << x << "," << y;
            ASSERT_LE(std::abs(level - expected.level), expected.ambiguous ? 1 : 0)
                << "pixel " << x << "," << y << " stored " << stored << " value " << value;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Images, GreyAtZoomOne,
    testing::Values(GreyCase{"Unsigned", false, "MONOCHROME2", 1, 0, 30000, 40000, false},
                    GreyCase{"Signed", true, "MONOCHROME2", 1, 0, -2000, 30001, false},
                    GreyCase{"CtRescale", true, "MONOCHROME2", 1, -1024, 40, 400, false},
                    GreyCase{"Monochrome1", false, "MONOCHROME1", 1, 0, 32000, 50000, false},
                    GreyCase{"Negative", true, "MONOCHROME2", 1, 0, 100, 60000, true},
                    GreyCase{"SlopeTwo", true, "MONOCHROME2", 2, -100, 1000, 90000, false},
                    GreyCase{"SlopeHalf", false, "MONOCHROME2", 0.5, 10.25, 15000, 30000, false},
                    GreyCase{"BeyondTableTop", true, "MONOCHROME2", 3, 0, 65535.5f, 2, false},
                    GreyCase{"BeyondTableBottom", true, "MONOCHROME2", 3, 0, -65535.5f, 2, false}),
    [](const auto& row) { return row.param.name; });

TEST(OverlayAtZoomOne, PlaneAndShadowArePainted) {
    const std::vector<test::Marker> overlay = {{2, 3}, {8, 6}, {5, 0}};
    test::OpenedImage opened = test::OpenMarkerImage("overlay", 9, 7, {{4, 4}}, 1000, overlay);
    ASSERT_NE(opened.image, nullptr);
    CDisplayLUT lut;
    lut.SetWindow(500, 1000, false, true);
    const ViewGeometry g = ActualSizeView(9, 7);
    CResampler resampler(1);
    resampler.SetGeometry(g);
    test::CGuardedBitmap bitmap(g.visibleDestWidth, g.visibleDestHeight);
    ASSERT_TRUE(resampler.RenderGreyWithOverlay(opened.image->Frame(0), bitmap.View(), &lut));
    for (int y = 0; y < 7; ++y) {
        for (int x = 0; x < 9; ++x) {
            uint32_t expected = (x == 4 && y == 4) ? 0x00FFFFFFu : 0;
            for (const test::Marker& m : overlay)
                if (m.x == x && m.y == y) expected = 0x00FFFFC0u;
            EXPECT_EQ(bitmap.At(x, y), expected) << x << "," << y;
        }
    }
    // Without the overlay path the plane is not drawn.
    ASSERT_TRUE(resampler.RenderGrey(opened.image->Frame(0), bitmap.View(), &lut));
    EXPECT_EQ(bitmap.At(2, 3), 0u);
    EXPECT_EQ(bitmap.At(4, 4), 0x00FFFFFFu);
}

}  // namespace
}  // namespace vexel
