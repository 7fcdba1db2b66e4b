// The display tables against the linear VOI function of PS3.3 C.11.2.1.2.1 written out in
// the test, over every entry, for the presets and the awkward windows; non-finite windows.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
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
    std::vector<WindowCase> windows = {
        {"Width1", 0, 1}, {"Width2", 0, 2}, {"Width3", 7, 3}, {"FarBelow", -200000, 400},
        {"LowEdge", -65536, 256}, {"SignedBottom", -32768, 100}, {"UnsignedTop", 65535.5f, 2},
        {"Fraction", 40.25f, 80.5f}, {"FullDynamicLike", -975.5f, 4096},
        {"WholeTable", 0, 131072}, {"WiderThanTable", 12345, 1000000}};
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

}  // namespace
}  // namespace vexel
