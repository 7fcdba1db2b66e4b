// What a viewport shows and how it changes: images of a load taken in display order, stale
// loads and other series refused, the events on-screen viewports fire; the tools on their
// buttons, failed renders, off-screen viewports on worker threads; following other viewports
// (which events are followed, and that following never cascades). Pixels against the VOI
// function are checked on the resampler; the rulers check the actual-size view under rotation.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <thread>

#include "engine/system_hooks.h"
#include "engine/ui_dispatcher.h"
#include "engine/vexel_engine.h"
#include "imaging/dicom_frame.h"
#include "platform/headless_event_loop.h"
#include "viewer/viewport_hash.h"
#include "viewer/viewport_synchronizer.h"
#include "viewer/viewport_view_tools.h"
#include "viewer/viewport_window_tool.h"
#include "viewer_test_support.h"

namespace vexel {
namespace {

using namespace std::chrono_literals;
using test::HandImage;
using test::OpenHandImage;
using test::OpenSeries;
using test::PhantomCtSeries;
using test::PhantomPetSeries;
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

TEST(ViewportLoading, ImagesAreListedInDisplayOrderWhateverTheArrival) {
    const auto ct = OpenSeries(PhantomCtSeries());
    ViewportRig rig;
    CViewport2D& v = *rig.viewport;
    for (size_t i = ct.size(); i-- > 1;)
        ASSERT_TRUE(rig.Add(ct[i]));
    // The first arrival is shown at once; the rest wait for the merge.
    EXPECT_EQ(v.ImageCount(), 1u);
    v.MergePendingImages();
    // Nothing chosen yet: the series opens at its first image, not at the first arrival.
    EXPECT_EQ(v.CurrentIndex(), 0u);
    EXPECT_EQ(v.CurrentImage(), ct[1].image);
    // Once an image is chosen it stays on screen while others go in before it.
    v.ShowImage(2, false, true);
    ASSERT_TRUE(rig.Add(ct[0]));
    v.MergePendingImages();
    std::vector<int32_t> numbers;
    for (size_t i = 0; i < v.ImageCount(); ++i)
        numbers.push_back(v.ImageAt(i)->InstanceNumber());
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
    EXPECT_EQ(numbers.size(), ct.size());
    EXPECT_EQ(v.CurrentIndex(), ct.size() - 1);
    EXPECT_EQ(v.ScrollBar().Position(), int32_t(ct.size()) - 1);
}

TEST(ViewportLoading, OtherSeriesStaleLoadsAndEmptyImagesAreRefused) {
    const auto ct = OpenSeries(PhantomCtSeries());
    const auto pet = OpenSeries(PhantomPetSeries());
    ViewportRig rig;
    CViewport2D& v = *rig.viewport;
    const uint32_t generation = v.LoadGeneration();
    ASSERT_TRUE(rig.Add(ct[0], generation));
    rig.Advance(5s);
    // Same patient and study, another series: never merged, pending or not.
    EXPECT_FALSE(rig.Add(pet[0], generation));
    EXPECT_FALSE(rig.Add(pet[1], 0));
    EXPECT_EQ(v.PendingCount(), 0u);
    EXPECT_FALSE(rig.Add(ct[1], generation + 1)) << "a load this viewport never started";
    ASSERT_TRUE(rig.Add(ct[1], generation));
    EXPECT_EQ(v.ImageCount(), 2u);

    // A filter chooses the series before anything arrives.
    v.Clear(true);
    v.SetSeriesFilter(ViewportSeriesKey(*pet[0].image));
    EXPECT_FALSE(rig.Add(ct[0]));
    EXPECT_TRUE(rig.Add(pet[0]));
    EXPECT_EQ(v.SeriesKey(), ViewportSeriesKey(*pet[0].image));
}

// Records each viewport event and the image index of each displayed-image change.
struct EventLog {
    std::vector<uint32_t> codes;
    std::vector<uint32_t> shownImageIndexes;
    static uint32_t Record(uint32_t code, uint64_t payload, void* context) {
        auto* log = static_cast<EventLog*>(context);
        log->codes.push_back(code);
        if (code == EventCode(Viewport2DEvent::DisplayedImageChanged))
            log->shownImageIndexes.push_back(
                reinterpret_cast<const DisplayedImageRecord*>(payload)->imageIndex);
        return 0;
    }
};

// Viewports wired to an engine, firing their events on its viewport hook.
struct EngineRig {
    EngineRig() {
        EXPECT_TRUE(RegisterSystemHooks(engine, hooks));
        services.states = &states;
        services.presets = &presets;
        services.engine = &engine;
        services.viewportHook = hooks.viewport2D;
    }
    ~EngineRig() { UnregisterSystemHooks(engine, hooks); }
    CHeadlessEventLoop loop;
    CUIDispatcher dispatcher{loop};
    CVexelEngine engine{dispatcher};
    SystemHooks hooks;
    CSeriesStateStore states;
    CWindowPresetTable presets;
    test::CRecordingWindow window;
    ViewportServices services;
};

TEST(ViewportEvents, OnScreenViewportsReportAndOffScreenOnesStaySilent) {
    const auto ct = OpenSeries(PhantomCtSeries());
    EngineRig r;
    EventLog log;
    ASSERT_NE(r.engine.Subscribe(kViewport2DHookName, &EventLog::Record, &log), 0u);
    {
        CViewport2D v(r.services);
        v.SetPanelId(77);
        v.Create(r.window);
        v.SizeChanged(140, 128);
        for (const auto& image : ct)
            v.AddImage(CFileRef(), *image.image, 0);
        v.MergePendingImages();
        v.Browse(+1);
        v.Browse(+10);
        EXPECT_EQ(log.shownImageIndexes,
                  (std::vector<uint32_t>{1u, (1u + 10u) % uint32_t(ct.size())}));
        v.Clear(true);
        EXPECT_EQ(log.codes.back(), EventCode(Viewport2DEvent::Cleared));
    }
    log.codes.clear();
    {
        CViewport2D offscreen(r.services);
        offscreen.SetPanelId(78);
        ASSERT_TRUE(offscreen.CreateOffscreen(64, 64, ViewGeometry{}));
        for (const auto& image : ct)
            offscreen.AddImage(CFileRef(), *image.image, 0);
        offscreen.ShowImage(2, true, true);
        offscreen.Clear(true);
        EXPECT_TRUE(log.codes.empty());
    }
}

// Two viewports of one series match image for image, as the volumes will answer.
class CSameImage final : public ICorrespondingImages {
public:
    CDicomImage* FindCorrespondingImage(const DisplayedImageRecord& source, CViewport2D&,
                                        size_t* frame) override {
        ++asked;
        *frame = source.frameIndex;
        return source.image;
    }
    int asked = 0;
};

TEST(ViewportSynchronizer, FollowsOnlyWhenEveryConditionHolds) {
    const auto ct = OpenSeries(PhantomCtSeries());
    EngineRig r;
    CSameImage finder;
    bool setting = true;
    r.services.correspondingImages = &finder;
    r.services.autoSynchronise = [&] { return setting; };
    CViewport2D a(r.services), b(r.services);
    for (CViewport2D* v : {&a, &b}) {
        v->Create(r.window);
        v->SizeChanged(80, 80);
        v->SetPanelId(v == &a ? 1 : 2);
        for (const test::OpenedImage& image : ct)
            v->AddImage(CFileRef(), *image.image, 0);
        v->MergePendingImages();
    }
    ASSERT_EQ(b.ImageCount(), ct.size());

    a.Browse(1);
    EXPECT_EQ(b.CurrentIndex(), 1u);
    EXPECT_EQ(a.CurrentIndex(), 1u) << "no cascade back";
    EXPECT_EQ(finder.asked, 1);

    struct Block {
        const char* why;
        std::function<void(bool)> set;
    };
    const Block blocks[] = {
        {"setting off", [&](bool on) { setting = !on; }},
        {"follower disabled", [&](bool on) { b.Synchronizer().SetEnabled(!on); }},
        {"leader disabled", [&](bool on) { a.Synchronizer().SetEnabled(!on); }},
        {"follower dragging",
         [&](bool on) {
             on ? b.MouseDown(5, 5, MouseButton::Middle) : b.MouseUp(5, 5, MouseButton::Middle);
         }},
    };
    for (const Block& block : blocks) {
        SCOPED_TRACE(block.why);
        block.set(true);
        a.Browse(1);
        EXPECT_NE(b.CurrentIndex(), a.CurrentIndex());
        block.set(false);
        a.Browse(1);
        EXPECT_EQ(b.CurrentIndex(), a.CurrentIndex());
    }
    // Clear enables following again; an off-screen viewport never follows.
    b.Synchronizer().SetEnabled(false);
    b.Clear(false);
    EXPECT_TRUE(b.Synchronizer().Enabled());
    b.CreateOffscreen(80, 80, ViewGeometry{});
    for (const test::OpenedImage& image : ct)
        b.AddImage(CFileRef(), *image.image, 0);
    const int asked = finder.asked;
    a.Browse(1);
    EXPECT_EQ(finder.asked, asked);
}

}  // namespace
}  // namespace vexel
