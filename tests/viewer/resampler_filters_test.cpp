// Bilinear enlargement and area-average reduction against plain reference filters written in
// the test over the grey levels of the VOI function, for panned views of a noise image; the
// same pictures from one thread and from many.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/dicom_frame.h"
#include "resample_test_support.h"
#include "viewer/display_lut.h"
#include "viewer/resampler.h"
#include "voi_oracle.h"

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

std::string FilterName(const testing::TestParamInfo<FilterCase>& info) {
    std::ostringstream name;
    name << "Z" << int(info.param.zoom * 100) << "_A" << info.param.anchorX << "x"
         << info.param.anchorY;
    return name.str();
}

class FilterMatchesReference : public testing::TestWithParam<FilterCase> {};

TEST_P(FilterMatchesReference, WithinOneGreyLevel) {
    const FilterCase& c = GetParam();
    ASSERT_NE(Noise().image, nullptr);
    static const test::LevelImage levels = NoiseLevels();
    const ViewGeometry g =
        test::MakeView(kWidth, kHeight, 101, 77, 0, false, false, c.zoom, c.anchorX, c.anchorY);
    ASSERT_EQ(g.zoom, c.zoom);
    CDisplayLUT lut;
    lut.SetWindow(kCentre, kWidthOfWindow, false, true);
    CResampler resampler(3);
    resampler.SetGeometry(g);
    test::CGuardedBitmap bitmap(g.visibleDestWidth, g.visibleDestHeight);
    ASSERT_TRUE(resampler.RenderGrey(Noise().image->Frame(0), bitmap.View(), &lut));
    ASSERT_TRUE(bitmap.GuardIntact());
    for (int j = 0; j < g.visibleDestHeight; ++j) {
        for (int i = 0; i < g.visibleDestWidth; ++i) {
            const double expected = c.zoom > 1 ? test::ReferenceBilinear(levels, g, i, j)
                                               : test::ReferenceAreaAverage(levels, g, i, j);
            const uint32_t pixel = bitmap.At(i, j);
            ASSERT_EQ(pixel, (pixel & 0xFF) * 0x010101u);
            ASSERT_NEAR(double(pixel & 0xFF), expected, 1.0) << "destination " << i << "," << j;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Zooms, FilterMatchesReference,
                         testing::Values(FilterCase{1.5f, 50, 38}, FilterCase{2.25f, 17, 60},
                                         FilterCase{7.9f, 80, 20}, FilterCase{7.9f, 3, 3},
                                         FilterCase{0.37f, 50, 38}, FilterCase{0.5f, 50, 38},
                                         FilterCase{0.8f, 10, 70}, FilterCase{0.93f, 90, 5}),
                         FilterName);

TEST(ResamplerThreads, ManyThreadsDrawWhatOneDraws) {
    ASSERT_NE(Noise().image, nullptr);
    CDisplayLUT lut;
    lut.SetWindow(kCentre, kWidthOfWindow, false, true);
    for (float zoom : {0.37f, 1.0f, 2.25f, 7.9f}) {
        const ViewGeometry g =
            test::MakeView(kWidth, kHeight, 333, 271, 90, true, false, zoom, 120, 100);
        CResampler one(1), many(5);
        ASSERT_EQ(many.ThreadCount(), 5u);
        one.SetGeometry(g);
        many.SetGeometry(g);
        test::CGuardedBitmap a(g.visibleDestWidth, g.visibleDestHeight);
        test::CGuardedBitmap b(g.visibleDestWidth, g.visibleDestHeight);
        ASSERT_TRUE(one.RenderGrey(Noise().image->Frame(0), a.View(), &lut));
        ASSERT_TRUE(many.RenderGrey(Noise().image->Frame(0), b.View(), &lut));
        if (zoom >= 1) {
            ASSERT_GT(g.visibleDestHeight, 2 * kResampleBandRows);
        }
        for (int y = 0; y < a.Height(); ++y)
            for (int x = 0; x < a.Width(); ++x)
                ASSERT_EQ(a.At(x, y), b.At(x, y)) << "zoom " << zoom << " at " << x << "," << y;
    }
}

}  // namespace
}  // namespace vexel
