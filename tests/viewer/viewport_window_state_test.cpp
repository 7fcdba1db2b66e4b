// Which window a frame opens with, and what the viewport remembers per series.
#include <gtest/gtest.h>

#include "viewer/display_lut.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_window_state.h"
#include "viewer/window_preset.h"
#include "viewer_test_images.h"

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

TEST(ViewportWindowState, PetOpensInvertedOverZeroToTwentyThousand) {
    CSeriesStateStore store;
    Viewport viewport(store);
    test::OpenedImage pet = test::OpenFile(test::PhantomPetFile());
    ASSERT_NE(pet.image, nullptr);
    viewport.state.ShowFrame(*pet.image->Frame(0), "pet");
    EXPECT_TRUE(viewport.lut.Negative());
    const uint8_t* table = viewport.lut.ByteTable();
    EXPECT_EQ(table[CDisplayLUT::IndexOf(0)], 255);
    EXPECT_EQ(table[CDisplayLUT::IndexOf(20000)], 0);

    // Switching negative off is remembered: later frames keep it off.
    EXPECT_TRUE(viewport.state.SetNegative(false));
    viewport.state.ShowFrame(*pet.image->Frame(0), "pet");
    EXPECT_FALSE(viewport.lut.Negative());
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

}  // namespace
}  // namespace vexel
