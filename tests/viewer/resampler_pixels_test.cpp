// Rendered grey levels against the linear VOI function written out in the test: at zoom 1
// every pixel of signed, unsigned, MONOCHROME1, rescaled and negative images, and overlays.
// (Colour is compared with DCMTK by the cli render tests.)
#include <gtest/gtest.h>

#include <algorithm>
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

struct GreyCase {
    std::string name;
    bool isSigned;
    std::string photometric;
    double slope;
    double intercept;
    float centre;
    float width;
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

std::string Number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
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
    hand.rescaleSlope = Number(c.slope);
    hand.rescaleIntercept = Number(c.intercept);
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
