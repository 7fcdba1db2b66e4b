// The display tables against the linear VOI function of PS3.3 C.11.2.1.2.1 written out in
// the test, over every entry, for the presets and the awkward windows.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "platform/checked_alloc.h"
#include "viewer/display_lut.h"
#include "viewer/window_preset.h"
#include "voi_oracle.h"

namespace vexel {
namespace {

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

std::string CaseName(const testing::TestParamInfo<TableCase>& info) {
    std::ostringstream name;
    name << info.param.window.label << (info.param.monochrome1 ? "_Mono1" : "_Mono2")
         << (info.param.negative ? "_Negative" : "");
    return name.str();
}

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
    CDisplayLUT lut;
    lut.SetNegative(param.negative);
    lut.SetWindow(param.window.centre, param.window.width, param.monochrome1, false);
    EXPECT_EQ(lut.Centre(), param.window.centre);
    EXPECT_EQ(lut.Width(), param.window.width);
    ExpectTablesMatch(lut, param.window.centre, param.window.width,
                      param.monochrome1 != param.negative);
}

std::vector<WindowCase> Windows() {
    std::vector<WindowCase> windows = {
        {"Width1", 0, 1},
        {"Width1Half", 100.5f, 1},
        {"Width2", 0, 2},
        {"Width2Negative", -1024, 2},
        {"Width3", 7, 3},
        {"FarBelow", -200000, 400},
        {"FarAbove", 200000, 400},
        {"LowEdge", -65536, 256},
        {"HighEdge", 65535, 256},
        {"SignedBottom", -32768, 100},
        {"SignedTop", 32767, 100},
        {"UnsignedTop", 65535.5f, 2},
        {"Fraction", 40.25f, 80.5f},
        {"HalfCentre", 127.5f, 255},
        {"FullDynamicLike", -975.5f, 4096},
        {"WholeTable", 0, 131072},
        {"WiderThanTable", 12345, 1000000},
        {"EightBit", 128, 256},
        {"Pet", 10000, 20000},
    };
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
    for (const WindowCase& window : Windows()) {
        for (const bool monochrome1 : {false, true}) {
            for (const bool negative : {false, true}) {
                cases.push_back({window, monochrome1, negative});
            }
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Windows, DisplayTables, testing::ValuesIn(TableCases()), CaseName);

uint8_t Level(const CDisplayLUT& lut, int64_t value) {
    return lut.ByteTable()[CDisplayLUT::IndexOf(value)];
}

TEST(DisplayLut, BrainWindowWorkedValues) {
    // Centre 40, width 80: low 0, high 79.
    CDisplayLUT lut;
    lut.SetWindow(40, 80, false, false);
    const std::pair<int, int> expected[] = {{-1, 0},   {0, 0},    {1, 3},   {40, 129},
                                            {78, 252}, {79, 255}, {80, 255}};
    for (const auto& [value, level] : expected) {
        EXPECT_EQ(Level(lut, value), level) << "value " << value;
    }
}

TEST(DisplayLut, ExactHalfStepRoundsUp) {
    // Centre -975.5, width 4096: value -2341 sits a third below the middle, so
    // y = (1/2 - 1/3) x 255 = 42.5 exactly, which rounds to 43.
    CDisplayLUT lut;
    lut.SetWindow(-975.5f, 4096, false, false);
    EXPECT_EQ(Level(lut, -2341), 43);
}

TEST(DisplayLut, WidthBelowOneIsAThresholdAtCentreMinusHalf) {
    for (const float width : {0.0f, 0.5f, -400.0f, 1.0f}) {
        CDisplayLUT lut;
        ASSERT_TRUE(lut.SetWindow(10, width, false, false)) << "width " << width;
        EXPECT_EQ(lut.Width(), 1.0f);
        EXPECT_EQ(Level(lut, 9), 0) << "width " << width;
        EXPECT_EQ(Level(lut, 10), 255) << "width " << width;
        ExpectTablesMatch(lut, 10, 1, false);
    }
}

TEST(DisplayLut, EightBitWindowKeepsColourChannels) {
    CDisplayLUT lut;
    lut.SetWindow(128, 256, false, false);
    for (int value = 0; value < 256; ++value)
        EXPECT_EQ(Level(lut, value), value);
}

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

TEST(DisplayLut, HugeFiniteWindowsStayInRange) {
    CDisplayLUT lut;
    const float big = std::numeric_limits<float>::max();
    ASSERT_TRUE(lut.SetWindow(big, big, false, false));
    ExpectTablesMatch(lut, big, big, false);
    ASSERT_TRUE(lut.SetWindow(-big, big, true, false));
    ExpectTablesMatch(lut, -big, big, true);
    ASSERT_TRUE(lut.SetWindow(0, big, false, false));
    ExpectTablesMatch(lut, 0, big, false);
}

TEST(DisplayLut, RebuildsOnlyWhenSomethingChanges) {
    CDisplayLUT lut;
    int rebuilds = 0;
    float seenCentre = 0, seenWidth = 0;
    lut.SetRebuildListener([&](float centre, float width) {
        ++rebuilds;
        seenCentre = centre;
        seenWidth = width;
    });
    EXPECT_TRUE(lut.SetWindow(60, 400, false, false));
    EXPECT_FALSE(lut.SetWindow(60, 400, false, false));
    EXPECT_TRUE(lut.SetWindow(60, 400, false, true));
    EXPECT_TRUE(lut.SetWindow(60, 400, true, false));
    EXPECT_TRUE(lut.SetWindow(61, 400, true, false));
    EXPECT_TRUE(lut.SetWindow(61, 0.25f, true, false));
    EXPECT_FALSE(lut.SetWindow(61, 0.5f, true, false));  // raises to the same width
    EXPECT_EQ(rebuilds, 5);
    EXPECT_EQ(seenCentre, 61);
    EXPECT_EQ(seenWidth, 1);
}

TEST(DisplayLut, NegativeTogglesRebuildAndInvert) {
    CDisplayLUT lut;
    lut.SetWindow(300, 1500, false, false);
    EXPECT_FALSE(lut.SetNegative(false));
    EXPECT_TRUE(lut.SetNegative(true));
    EXPECT_TRUE(lut.Negative());
    ExpectTablesMatch(lut, 300, 1500, true);
    // MONOCHROME1 shown as negative looks like MONOCHROME2.
    lut.SetWindow(300, 1500, true, false);
    ExpectTablesMatch(lut, 300, 1500, false);
    EXPECT_TRUE(lut.SetNegative(false));
    ExpectTablesMatch(lut, 300, 1500, true);
}

TEST(DisplayLut, StartsBlankAndIndexClampsToTheEnds) {
    CDisplayLUT lut;
    ASSERT_TRUE(lut.IsValid());
    EXPECT_EQ(lut.Centre(), 0);
    EXPECT_EQ(lut.Width(), 0);
    EXPECT_FALSE(lut.Negative());
    for (size_t i = 0; i < CDisplayLUT::kEntries; ++i) {
        ASSERT_EQ(lut.ByteTable()[i], 0);
        ASSERT_EQ(lut.GreyTable()[i], 0u);
    }
    EXPECT_EQ(CDisplayLUT::IndexOf(-65536), 0u);
    EXPECT_EQ(CDisplayLUT::IndexOf(0), 65536u);
    EXPECT_EQ(CDisplayLUT::IndexOf(65535), 131071u);
    EXPECT_EQ(CDisplayLUT::IndexOf(-1000000), 0u);
    EXPECT_EQ(CDisplayLUT::IndexOf(1000000), 131071u);
}

TEST(DisplayLut, RefusedTablesLeaveAnInertLookUp) {
    SetAllocationFaultInjector([](size_t) { return true; });
    CDisplayLUT lut;
    SetAllocationFaultInjector(nullptr);
    EXPECT_FALSE(lut.IsValid());
    EXPECT_EQ(lut.ByteTable(), nullptr);
    EXPECT_FALSE(lut.SetWindow(40, 80, false, false));
    EXPECT_FALSE(lut.SetNegative(true));
    EXPECT_EQ(lut.Centre(), 40);
}

}  // namespace
}  // namespace vexel
