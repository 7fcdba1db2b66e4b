// What a viewport shows and how the mouse changes it: the tools on their buttons, failed
// renders, and off-screen viewports on worker threads. (Pixels against the VOI function are
// checked on the resampler; the rulers check the actual-size view under rotation.)
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <thread>

#include "imaging/dicom_frame.h"
#include "viewer/viewport_view_tools.h"
#include "viewer/viewport_window_tool.h"
#include "viewport_test_support.h"

namespace vexel {
namespace {

using test::HandImage;
using test::OpenHandImage;
using test::OpenSeries;
using test::PhantomCtSeries;
using test::ViewportRig;

HandImage Ramp(uint16_t columns, uint16_t rows) {
    HandImage wanted;
    wanted.columns = columns;
    wanted.rows = rows;
    wanted.isSigned = true;
    wanted.rescaleIntercept = "-1024";
    wanted.rescaleSlope = "1";
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x)
            wanted.pixels.push_back(x * 37 + y * 101 - 300);
    return wanted;
}

bool AllBlack(const CViewportSurface& s) {
    return std::all_of(s.Pixels(), s.Pixels() + size_t(s.Width()) * s.Height(),
                       [](uint32_t p) { return p == 0; });
}

TEST(ViewportPixels, AFrameThatCannotBeDrawnLeavesTheViewBlack) {
    const test::OpenedImage good = OpenHandImage(Ramp(16, 16), "viewport-good");
    test::OpenedImage bad = OpenHandImage(Ramp(16, 16), "viewport-bad");
    ASSERT_TRUE(good.image && bad.image);
    // The pixels are read when first drawn: a file cut short since it was opened fails then.
    std::filesystem::resize_file(bad.file->Path(), 200);
    ViewportRig rig(100, 80);
    CViewport2D& v = *rig.viewport;
    v.SetLayerMask(0);  // the image alone
    ASSERT_TRUE(rig.Add(good));
    ASSERT_TRUE(v.RenderedImage());
    ASSERT_FALSE(AllBlack(v.Surface()));
    ASSERT_TRUE(rig.Add(bad));
    v.MergePendingImages();
    v.ShowImage(v.ImageAt(0) == bad.image ? 0 : 1, true, true);
    ASSERT_EQ(v.CurrentImage(), bad.image);
    EXPECT_FALSE(v.RenderedImage());
    EXPECT_TRUE(AllBlack(v.Surface())) << "the previous image must not stay under new labels";
}

TEST(ViewportTools, ButtonsDriveBrowseZoomWindowAndPan) {
    const auto ct = OpenSeries(PhantomCtSeries());
    ViewportRig rig(200 + CMyScrollBar::kWidth, 160);
    CViewport2D& v = *rig.viewport;
    for (const auto& image : ct)
        ASSERT_TRUE(rig.Add(image));
    v.MergePendingImages();
    ASSERT_EQ(v.ImageCount(), 4u);
    ASSERT_EQ(v.CurrentIndex(), 0u);

    // Left: browse, 2 pixels per image, wrapping past the end.
    v.MouseDown(50, 50, MouseButton::Left);
    v.MouseMove(50, 56);
    EXPECT_EQ(v.CurrentIndex(), 3u);
    v.MouseMove(50, 58);
    EXPECT_EQ(v.CurrentIndex(), 0u) << "from the last image downward wraps to the first";
    v.MouseUp(50, 58, MouseButton::Left);
    // Wheel: 60 counts as a notch, away from the user goes back.
    v.MouseWheel(60);
    EXPECT_EQ(v.CurrentIndex(), 3u);
    v.MouseWheel(240);
    EXPECT_EQ(v.CurrentIndex(), 1u);

    // Right: zoom; dragging up the viewport's height enlarges four times.
    const float fit = v.Geometry().zoom;
    v.MouseDown(100, 150, MouseButton::Right);
    v.MouseMove(100, -10);
    EXPECT_NEAR(v.Geometry().zoom, fit * 4, fit * 1e-4);
    v.MouseUp(100, -10, MouseButton::Right);
    v.MouseDown(100, 0, MouseButton::Right);
    v.MouseMove(100, 160);
    EXPECT_NEAR(v.Geometry().zoom, fit, fit * 1e-4);
    v.MouseUp(100, 160, MouseButton::Right);
    EXPECT_TRUE(v.UserZoomedOrPanned());

    // Middle: window; 100 pixels right widen a CT window by 50, up raises the centre.
    v.SelectPreset(3);
    const float width = v.Lut().Width(), centre = v.Lut().Centre();
    v.MouseDown(10, 100, MouseButton::Middle);
    v.MouseMove(110, 100);
    EXPECT_FLOAT_EQ(v.Lut().Width(), width + 50);
    v.MouseMove(110, 80);
    EXPECT_FLOAT_EQ(v.Lut().Centre(), centre + 10);
    // No browsing while a drag is in progress.
    v.Browse(+1);
    EXPECT_EQ(v.CurrentIndex(), 1u);
    v.MouseUp(110, 80, MouseButton::Middle);
    EXPECT_EQ(v.WindowTool().State().PresetId(), kPresetNone);
    // The window stays while browsing the series.
    v.Browse(+1);
    EXPECT_EQ(v.CurrentIndex(), 2u);
    EXPECT_FLOAT_EQ(v.Lut().Width(), width + 50);

    // Shift with the left button pans; the view follows the mouse exactly.
    v.SetZoom(4);
    const int32_t originX = v.Geometry().originX, originY = v.Geometry().originY;
    v.MouseDown(100, 100, MouseButton::Left, {.shift = true});
    v.MouseMove(93, 104);
    EXPECT_EQ(v.Geometry().originX, originX - 7);
    EXPECT_EQ(v.Geometry().originY, originY + 4);
    v.MouseUp(93, 104, MouseButton::Left);
    EXPECT_EQ(v.CurrentIndex(), 2u) << "the pan drag did not browse";

    // Positions from anywhere in the 32-bit range drag without overflowing.
    for (const MouseButton button : {MouseButton::Left, MouseButton::Right, MouseButton::Middle}) {
        v.MouseDown(INT32_MIN, INT32_MAX, button, {.shift = button == MouseButton::Left});
        v.MouseMove(INT32_MAX, INT32_MIN);
        v.MouseUp(INT32_MAX, INT32_MIN, button);
        EXPECT_TRUE(std::isfinite(v.Lut().Width()) && std::isfinite(v.Lut().Centre()));
        EXPECT_GT(v.Geometry().zoom, 0.0f);
        EXPECT_TRUE(v.RenderedImage());
    }
}

// Off-screen viewports on worker threads draw exactly what one on the main thread draws.
TEST(ViewportOffscreen, WorkerThreadsDrawWhatTheMainThreadDraws) {
    const auto ct = OpenSeries(PhantomCtSeries());
    const auto draw = [&ct] {
        CSeriesStateStore states;
        CWindowPresetTable presets;
        ViewportServices services;
        services.states = &states;
        services.presets = &presets;
        CViewport2D v(services);
        EXPECT_TRUE(v.CreateOffscreen(150, 110, ViewGeometry{}));
        for (const auto& image : ct)
            v.AddImage(CFileRef(), *image.image, 0);
        v.ShowImage(2, false, false);
        v.Transform(90, false, true, false);
        v.SetZoom(2.5f);
        v.Pan(-13, 9);
        const CViewportSurface& s = v.Surface();
        return std::vector<uint32_t>(s.Pixels(), s.Pixels() + size_t(s.Width()) * s.Height());
    };
    const auto expected = draw();
    ASSERT_FALSE(std::all_of(expected.begin(), expected.end(), [](uint32_t p) { return p == 0; }));
    std::atomic<int> mismatches{0};
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] { mismatches += draw() != expected; });
    }
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace vexel
