// The window an image opens with, on phantom series and hand-built files whose value range
// is known, and the tables seen through the image's own rescale.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "imaging/dicom_frame.h"
#include "viewer/default_window.h"
#include "viewer/display_lut.h"
#include "viewer/series_state_store.h"
#include "viewer_test_images.h"
#include "voi_oracle.h"

namespace vexel {
namespace {

using test::HandImage;

struct DefaultCase {
    const char* name;
    HandImage image;
    float centre;
    float width;
};

// Every pixel of frame 0 through the tables: its modality value against the oracle.
void ExpectPixelsMatch(CDicomImage& image, const CDisplayLUT& lut, bool invert) {
    const float slope = image.RescaleSlope(), intercept = image.RescaleIntercept();
    for (const int32_t stored : test::StoredValues(image, 0)) {
        const auto modality = int64_t(std::lround(double(stored) * slope + intercept));
        const auto expected = test::LinearVoi(modality, lut.Centre(), lut.Width(), invert);
        const int actual = lut.ByteTable()[CDisplayLUT::IndexOf(modality)];
        ASSERT_LE(std::abs(actual - expected.level), expected.ambiguous ? 1 : 0)
            << "stored " << stored << " modality " << modality;
    }
}

class DefaultWindow : public testing::TestWithParam<DefaultCase> {};

TEST_P(DefaultWindow, FromFileOrValueRange) {
    const DefaultCase& param = GetParam();
    test::OpenedImage opened = test::OpenHandImage(param.image, param.name);
    ASSERT_NE(opened.image, nullptr);
    CSeriesStateStore store;
    const WindowLevel window = DefaultWindowOf(*opened.image, store);
    EXPECT_FLOAT_EQ(window.centre, param.centre);
    EXPECT_FLOAT_EQ(window.width, param.width);
    CDisplayLUT lut;
    ASSERT_TRUE(lut.SetDefaultWindow(opened.image, store));
    EXPECT_FLOAT_EQ(lut.Centre(), param.centre);
    EXPECT_EQ(lut.Monochrome1(), param.image.photometric == "MONOCHROME1");
    ExpectPixelsMatch(*opened.image, lut, lut.Monochrome1());
}

HandImage Pixels(std::vector<int32_t> pixels, bool isSigned) {
    HandImage image;
    image.columns = uint16_t(pixels.size());
    image.pixels = std::move(pixels);
    image.isSigned = isSigned;
    return image;
}

HandImage With(HandImage image, const char* centre, const char* width) {
    image.windowCenter = centre;
    image.windowWidth = width;
    return image;
}

HandImage Rescaled(HandImage image, const char* slope, const char* intercept) {
    image.rescaleSlope = slope;
    image.rescaleIntercept = intercept;
    return image;
}

HandImage Monochrome1(HandImage image) {
    image.photometric = "MONOCHROME1";
    return image;
}

// Expected full dynamic windows: width = max - min + 1, centre = min + width / 2.
std::vector<DefaultCase> DefaultCases() {
    const HandImage unsignedImage = Pixels({0, 100, 4095, 65535, 7}, false);
    const HandImage signedImage = Pixels({-32768, -5, 0, 32767, 12}, true);
    const HandImage ct = Pixels({0, 24, 1024, 3071}, true);
    return {
        {"FileWindow", With(ct, "40", "400"), 40, 400},
        {"FirstOfSeveral", With(ct, "40\\-600", "400\\1500"), 40, 400},
        {"CentreAbsent", With(ct, "", "350"), 0, 350},
        {"BothZero", With(ct, "0", "0"), 1536, 3072},
        {"Absent", ct, 1536, 3072},
        {"WidthZero", With(ct, "50", "0"), 1536, 3072},
        {"WidthNotANumber", With(ct, "50", "wide"), 1536, 3072},
        {"Unsigned", unsignedImage, 32768, 65536},
        {"Signed", signedImage, 0, 65536},
        {"SignedCtRescale", Rescaled(signedImage, "1", "-1024"), -1024, 65536},
        {"Slope2", Rescaled(Pixels({-100, 50}, true), "2", "10"), -39.5f, 301},
        {"NegativeSlope", Rescaled(Pixels({-100, 50}, true), "-1", "0"), 25.5f, 151},
        {"Flat", Pixels({100, 100}, false), 100.5f, 1},
        {"Monochrome1Range", Monochrome1(unsignedImage), 32768, 65536},
    };
}

INSTANTIATE_TEST_SUITE_P(Images, DefaultWindow, testing::ValuesIn(DefaultCases()),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

// The pair is computed once per image: a second request reads it back, not the pixels.
TEST(DefaultWindowPhantom, PetWithoutWindowUsesTheFirstFrameRangeOnce) {
    test::OpenedImage opened = test::OpenFile(test::PhantomPetFile());
    ASSERT_NE(opened.image, nullptr);
    const std::vector<int32_t> stored = test::StoredValues(*opened.image, 0);
    const auto [low, high] = std::minmax_element(stored.begin(), stored.end());
    const float slope = opened.image->RescaleSlope(), minimum = float(*low) * slope;
    const float width = float(*high) * slope - minimum + 1;
    CSeriesStateStore store;
    CDisplayLUT lut;
    ASSERT_TRUE(lut.SetDefaultWindow(opened.image, store));
    EXPECT_FLOAT_EQ(lut.Width(), width);
    EXPECT_FLOAT_EQ(lut.Centre(), minimum + width / 2);
    ExpectPixelsMatch(*opened.image, lut, false);
    ASSERT_TRUE(store.GetComputedWindow(opened.image->Key()).has_value());
    store.PutComputedWindow(opened.image->Key(), WindowLevel{7, 9});
    EXPECT_EQ(DefaultWindowOf(*opened.image, store), (WindowLevel{7, 9}));
}

}  // namespace
}  // namespace vexel
