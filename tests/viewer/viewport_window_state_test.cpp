// The window: the display tables against the linear VOI function of PS3.3 C.11.2.1.2.1
// written out in the test, over every entry, for the presets and awkward windows; the window
// an image opens with, on phantom series and hand-built files whose value range is known;
// what the viewport remembers per series, and the per-process store that keeps it, keyed so
// that what is not one series never shares a key.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "engine/study_model_keys.h"
#include "imaging/dicom_frame.h"
#include "viewer/default_window.h"
#include "viewer/display_lut.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_image_list.h"
#include "viewer/viewport_window_state.h"
#include "viewer/window_preset.h"
#include "viewer_test_support.h"

namespace vexel {
namespace {

// One viewport's look-up and window state over the process's store and presets.
struct Viewport {
    explicit Viewport(CSeriesStateStore& store) : state(lut, presets, store) {}
    CWindowPresetTable presets;
    CDisplayLUT lut;
    CViewportWindowState state;
};

test::OpenedImage CtImage(const char* name, const char* photometric = "MONOCHROME2") {
    // Built in one go: member-wise string assignment trips a false -Wrestrict in GCC 12.
    const test::HandImage image{.pixels = {0, 1024, 2048},
                                .columns = 3,
                                .isSigned = true,
                                .photometric = photometric,
                                .windowCenter = "50",
                                .windowWidth = "350",
                                .rescaleSlope = "1",
                                .rescaleIntercept = "-1024",
                                .frames = 2};
    return test::OpenHandImage(image, name);
}

TEST(ViewportWindowState, PresetSurvivesClosingAndReopeningTheSeries) {
    CSeriesStateStore store;
    test::OpenedImage ct = CtImage("ct-reopen");
    {
        Viewport viewport(store);
        viewport.state.ShowFrame(*ct.image->Frame(0), "ct");
        ASSERT_TRUE(viewport.state.SelectPreset(7));
        EXPECT_EQ(viewport.state.PresetName(), "CT Lungs");
        viewport.state.SetNegative(true);
        viewport.state.ShowFrame(*ct.image->Frame(1), "ct");
        EXPECT_EQ(viewport.lut.Centre(), -400);
        viewport.state.Clear();
        EXPECT_FALSE(viewport.lut.Negative());
    }
    EXPECT_EQ(store.GetWindowState("ct"), (WindowState{7, -400, 1500, 1}));
    Viewport other(store);
    other.state.ShowFrame(*ct.image->Frame(0), "ct");
    EXPECT_EQ(other.state.PresetId(), 7);
    EXPECT_EQ(other.lut.Centre(), -400);
    EXPECT_EQ(other.lut.Width(), 1500);
    EXPECT_TRUE(other.lut.Negative());
}

TEST(ViewportWindowState, FullDynamicAndUnknownPresets) {
    CSeriesStateStore store;
    test::OpenedImage ct = CtImage("ct-full");
    Viewport viewport(store);
    EXPECT_FALSE(viewport.state.SelectPreset(9));
    viewport.state.ShowFrame(*ct.image->Frame(0), "ct");
    ASSERT_TRUE(viewport.state.SelectPreset(1));
    EXPECT_EQ(viewport.state.PresetName(), "F");
    // Stored 0..2048 with intercept -1024: -1024..1024, width 2049.
    EXPECT_EQ(viewport.lut.Width(), 2049);
    EXPECT_EQ(viewport.lut.Centre(), -1024 + 2049 / 2.0f);
    EXPECT_FALSE(viewport.state.SelectPreset(-2));
    EXPECT_EQ(viewport.state.PresetId(), 1);
}

TEST(ViewportWindowState, RememberedWindowFollowsEachImagesPolarity) {
    CSeriesStateStore store;
    test::OpenedImage plain = CtImage("ct-mono2");
    test::OpenedImage inverted = CtImage("ct-mono1", "MONOCHROME1");
    Viewport viewport(store);
    viewport.state.ShowFrame(*plain.image->Frame(0), "mixed");
    viewport.state.SelectPreset(4);
    viewport.state.ShowFrame(*inverted.image->Frame(0), "mixed");
    EXPECT_TRUE(viewport.lut.Monochrome1());
    EXPECT_EQ(viewport.lut.ByteTable()[CDisplayLUT::IndexOf(-1000)], 255);
    viewport.state.ShowFrame(*plain.image->Frame(0), "mixed");
    EXPECT_FALSE(viewport.lut.Monochrome1());
    EXPECT_EQ(viewport.lut.ByteTable()[CDisplayLUT::IndexOf(-1000)], 0);
}

struct WindowCase {
    std::string label;
    float centre;
    float width;
};

struct TableCase {
    WindowCase window;
    bool monochrome1;
    bool negative;
};

// Compares both tables with the oracle; reports the first differing modality value.
void ExpectTablesMatch(const CDisplayLUT& lut, float centre, float width, bool invert) {
    ASSERT_TRUE(lut.IsValid());
    for (size_t i = 0; i < CDisplayLUT::kEntries; ++i) {
        const int64_t value = int64_t(i) + CDisplayLUT::kLowestValue;
        const test::ExpectedLevel expected = test::LinearVoi(value, centre, width, invert);
        const int actual = lut.ByteTable()[i];
        const bool ok =
            expected.ambiguous ? std::abs(actual - expected.level) <= 1 : actual == expected.level;
        ASSERT_TRUE(ok) << "modality value " << value << ": " << actual << ", expected "
                        << expected.level;
        ASSERT_EQ(lut.GreyTable()[i], uint32_t(actual) * 0x010101u) << "modality value " << value;
    }
}

class DisplayTables : public testing::TestWithParam<TableCase> {};

TEST_P(DisplayTables, MatchLinearVoiFunction) {
    const TableCase& param = GetParam();
    SCOPED_TRACE(param.window.label);
    CDisplayLUT lut;
    lut.SetNegative(param.negative);
    lut.SetWindow(param.window.centre, param.window.width, param.monochrome1, false);
    EXPECT_EQ(lut.Centre(), param.window.centre);
    EXPECT_EQ(lut.Width(), param.window.width);
    ExpectTablesMatch(lut, param.window.centre, param.window.width,
                      param.monochrome1 != param.negative);
}

std::vector<WindowCase> Windows() {
    // Widths of one to three, ends of the table and beyond, fractions, wider than the table.
    std::vector<WindowCase> windows = {{"Width1", 0, 1},
                                       {"Width2", 0, 2},
                                       {"Width3", 7, 3},
                                       {"FarBelow", -200000, 400},
                                       {"LowEdge", -65536, 256},
                                       {"SignedBottom", -32768, 100},
                                       {"UnsignedTop", 65535.5f, 2},
                                       {"Fraction", 40.25f, 80.5f},
                                       {"FullDynamicLike", -975.5f, 4096},
                                       {"WholeTable", 0, 131072},
                                       {"WiderThanTable", 12345, 1000000}};
    CWindowPresetTable presets;
    for (const WindowPreset& preset : presets.All()) {
        if (!preset.IsFixed()) continue;
        std::string label = "Preset";
        label += char('0' + preset.id);
        windows.push_back({label, preset.centre, preset.width});
    }
    return windows;
}

std::vector<TableCase> TableCases() {
    std::vector<TableCase> cases;
    for (const WindowCase& window : Windows())
        for (const bool monochrome1 : {false, true})
            for (const bool negative : {false, true})
                cases.push_back({window, monochrome1, negative});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Windows, DisplayTables, testing::ValuesIn(TableCases()));

TEST(DisplayLut, NonFiniteWindowIsRefusedAndTablesStay) {
    CDisplayLUT lut;
    lut.SetWindow(40, 80, false, false);
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    for (const float value : bad) {
        EXPECT_FALSE(lut.SetWindow(value, 80, false, true));
        EXPECT_FALSE(lut.SetWindow(40, value, false, true));
    }
    EXPECT_EQ(lut.Centre(), 40);
    EXPECT_EQ(lut.Width(), 80);
    ExpectTablesMatch(lut, 40, 80, false);
}

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
TEST(DefaultWindowPhantom, PetUsesTheFirstFrameRangeOnceAndOpensInverted) {
    test::OpenedImage opened = test::OpenFile(test::PhantomPetSeries().front());
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

    // A viewport opens PET inverted over 0 to 20000; switching negative off is remembered.
    CSeriesStateStore states;
    Viewport viewport(states);
    viewport.state.ShowFrame(*opened.image->Frame(0), "pet");
    EXPECT_TRUE(viewport.lut.Negative());
    EXPECT_EQ(viewport.lut.ByteTable()[CDisplayLUT::IndexOf(0)], 255);
    EXPECT_EQ(viewport.lut.ByteTable()[CDisplayLUT::IndexOf(20000)], 0);
    EXPECT_TRUE(viewport.state.SetNegative(false));
    viewport.state.ShowFrame(*opened.image->Frame(0), "pet");
    EXPECT_FALSE(viewport.lut.Negative());
}

TEST(SeriesStateStore, WorkersShareOneStore) {
    CSeriesStateStore store;
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&store, t] {
            for (int i = 0; i < 500; ++i) {
                const std::string key = std::to_string(t) + "-" + std::to_string(i % 50);
                store.PutWindowState(key, {t, float(i), 1, 0});
                ASSERT_TRUE(store.GetWindowState(key).has_value());
                if (i % 3 == 0) store.Remove(key, StateRecord::kWindowState);
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_LE(store.Size(), 200u);
}

// Stored state is found by the series key: files of different series, and different
// multi-frame files, must never share one.
TEST(SeriesStateStore, SeriesKeysSeparateWhatIsNotOneSeries) {
    StudyFileKeys a;
    a.studyInstanceUid = "1.2";
    a.seriesNumber = 3;
    a.seriesInstanceUid = "1.2.3";
    a.file.numberOfFrames = 1;
    a.file.sopInstanceUid = "1.2.3.1";
    a.file.path = "/a/1.dcm";
    StudyFileKeys sameSeries = a;
    sameSeries.file.sopInstanceUid = "1.2.3.2";
    sameSeries.file.path = "/a/2.dcm";
    EXPECT_EQ(ViewportSeriesKey(a), ViewportSeriesKey(sameSeries));
    StudyFileKeys otherSeries = a;
    otherSeries.seriesInstanceUid = "1.2.4";
    EXPECT_NE(ViewportSeriesKey(a), ViewportSeriesKey(otherSeries));
    StudyFileKeys multiA = a, multiB = sameSeries;
    multiA.file.numberOfFrames = multiB.file.numberOfFrames = 10;
    EXPECT_NE(ViewportSeriesKey(multiA), ViewportSeriesKey(multiB));
}

}  // namespace
}  // namespace vexel
