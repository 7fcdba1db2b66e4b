// Cine: the acquired rate and per-frame intervals, the timing feedback, the render cache,
// and the engine's schedule with real threads.
#include <gtest/gtest.h>

#include <atomic>
#include <map>

#include "imaging/binary_value_mem_cacher.h"
#include "platform/headless_event_loop.h"
#include "viewer/cine_engine.h"
#include "viewer/cine_rate.h"
#include "viewer/grey_pixels.h"
#include "viewer/viewport_cine.h"
#include "viewer/viewport_window_tool.h"
#include "viewer_test_support.h"

namespace vexel::test {
namespace {

OpenedImage Frames(int frames, std::vector<HandImage::Extra> extra = {}) {
    static int files = 0;
    HandImage image;
    image.pixels.assign(64, 100);
    image.rows = image.columns = 8;
    image.frames = frames;
    image.extra = std::move(extra);
    return OpenHandImage(image, "cine" + std::to_string(++files));
}

// On-screen viewports of panels 1, 2, ... playing through the engine, which outlives them.
struct Panels {
    CViewport2D& Add(const OpenedImage& image) {
        ViewportServices services;
        services.states = &states;
        services.presets = &presets;
        services.cine = engine.get();
        services.renderCache = &cache;
        viewports.push_back(std::make_unique<CViewport2D>(services));
        CViewport2D& v = *viewports.back();
        v.Create(window);
        v.SizeChanged(120, 100);
        v.SetPanelId(uint32_t(viewports.size()));
        v.AddImage(CFileRef(), *image.image, 0);
        return v;
    }
    std::unique_ptr<CCineEngine> engine;
    CBinaryValueMemCacher cache;
    CSeriesStateStore states;
    CWindowPresetTable presets;
    CRecordingWindow window;
    std::vector<std::unique_ptr<CViewport2D>> viewports;
};

// The engine's ticks are dropped and its clock is the test's: the test calls Advance itself.
struct CineRig : Panels {
    CineRig() {
        engine = std::make_unique<CCineEngine>(
            CineEngineServices{[this] { return now.load(); }, [](auto) { return true; }, {}});
    }
    std::atomic<uint64_t> now{1000000};
};

TEST(CineRate, AcquiredRateAndFrameIntervals) {
    const std::pair<std::vector<HandImage::Extra>, float> cases[] = {
        {{}, 10},
        {{{0x00082144, "IS", "25"}, {0x00181063, "DS", "50"}}, 25},
        {{{0x00082144, "IS", "0"}, {0x00181063, "DS", "33.333"}}, 1000 / 33.333f},
        {{{0x00180040, "IS", "15"}, {0x00181063, "DS", "-4"}}, 15},
        {{{0x00082144, "IS", "-5"}, {0x00180040, "IS", "0"}}, 10},
        {{{0x00181063, "DS", "0.1"}}, 1000},
        {{{0x00082144, "IS", "1"}}, 1},
    };
    for (const auto& [extra, rate] : cases)
        EXPECT_FLOAT_EQ(AcquiredFrameRate(Frames(1, extra).image->File()), rate) << extra.size();
    // Frame k shows for increment k + 1; the last frame and unusable increments get 0.
    OpenedImage vector = Frames(5, {{0x00181065, "DS", "0\\40\\20.5\\x\\-3"}});
    EXPECT_EQ(FrameIntervals(vector.image->File(), 5),
              (std::vector<uint32_t>{40000, 20500, 0, 0, 0}));
    EXPECT_TRUE(FrameIntervals(vector.image->File(), 1).empty());
    EXPECT_TRUE(
        FrameIntervals(Frames(3, {{0x00181065, "DS", "0\\0\\0"}}).image->File(), 3).empty());
}

TEST(ViewportCine, FrameIntervalsRatesAndTheirBounds) {
    OpenedImage opened = Frames(4, {{0x00181065, "DS", "0\\100\\50\\25"}});
    CineRig rig;
    CViewport2DCine& cine = rig.Add(opened).Cine();
    ASSERT_TRUE(cine.Start());
    EXPECT_FALSE(cine.Start());
    EXPECT_EQ(cine.Period(), 100000u);  // no rate recorded: 10 per second
    // Each frame for its own interval; the last one for the period of the image's rate.
    std::vector<uint64_t> shown;
    for (int i = 0; i < 4; ++i) {
        const uint64_t due = cine.Advance();
        shown.push_back(due - rig.now - cine.Correction());
        rig.now = due;
    }
    EXPECT_EQ(shown, (std::vector<uint64_t>{50000, 25000, 100000, 100000}));

    // A chosen rate plays every frame alike. Frames that come late by half make the
    // correction shorten the period, never by more than a fifth.
    cine.SetRate(20);
    for (int i = 0; i < 200; ++i, rig.now += 75000) {
        const uint64_t due = cine.Advance();
        ASSERT_EQ(int64_t(due - rig.now), 50000 + cine.Correction());
    }
    EXPECT_EQ(cine.Correction(), -10000);
    EXPECT_NEAR(cine.MeasuredRate(), 1e6f / 75000, 0.5f);
    // A typed 0 or a negative rate never plays flat out: the acquired rate comes back.
    cine.Stop();
    cine.SetRate(-5);
    ASSERT_TRUE(cine.Start());
    EXPECT_EQ(cine.Period(), 100000u);
}

TEST(ViewportCine, RefusedStartsDragsClearAndTheCache) {
    OpenedImage single = Frames(1), second = Frames(2);
    CineRig rig;
    CViewport2D& v = rig.Add(single);
    CViewport2DCine& cine = v.Cine();
    EXPECT_FALSE(cine.Start()) << "one frame";
    v.Clear(false);
    v.AddImage(CFileRef(), *second.image, 0);
    v.SetPanelId(0);
    EXPECT_FALSE(cine.Start()) << "no panel";
    v.SetPanelId(1);
    ASSERT_TRUE(cine.Start());

    // While a drag is in progress the clock runs but the image stays.
    v.MouseDown(10, 10, MouseButton::Middle);
    const size_t before = v.BrowsePosition();
    EXPECT_GT(cine.Advance(), rig.now);
    EXPECT_EQ(v.BrowsePosition(), before);
    v.MouseUp(10, 10, MouseButton::Middle);

    // Rendered frames are kept; a zoom change drops them once.
    cine.Advance();
    cine.Advance();
    EXPECT_GT(rig.cache.TotalBytes(), 0u);
    const uint32_t drops = cine.CacheDrops();
    v.SetZoom(2);
    cine.Advance();
    cine.Advance();
    EXPECT_EQ(cine.CacheDrops(), drops + 1);
    // A new window is rendered at once, never answered from the cache.
    v.WindowTool().ApplyWindow(40, 80);
    EXPECT_EQ(cine.CacheDrops(), drops + 2);

    // Clearing the viewport ends playback and empties the cache.
    v.Clear(false);
    EXPECT_FALSE(cine.Playing() || rig.engine->IsPlaying(1) || rig.engine->TimingThreadRunning());
    EXPECT_EQ(rig.cache.TotalBytes(), 0u);
    EXPECT_EQ(cine.Advance(), 0u);
}

// A cached frame fills the surface directly; a partial redraw afterwards must still show
// that frame, not the one rendered last.
TEST(ViewportCine, CachedFramesRedrawAsTheyWereShown) {
    HandImage dark, bright;
    dark.rows = dark.columns = bright.rows = bright.columns = 8;
    dark.pixels.assign(64, 100);
    bright.pixels.assign(64, 900);
    dark.windowCenter = bright.windowCenter = "500";
    dark.windowWidth = bright.windowWidth = "1000";
    OpenedImage first = OpenHandImage(dark, "cine-dark"), second = OpenHandImage(bright, "cine-bright");
    CineRig rig;
    CViewport2D& v = rig.Add(first);
    v.AddImage(CFileRef(), *second.image, 0);
    v.MergePendingImages();
    ASSERT_EQ(v.ImageCount(), 2u);
    v.SizeChanged(100 + CMyScrollBar::kWidth, 100);
    ASSERT_TRUE(v.Cine().Start());
    for (int step = 0; step < 5; ++step) {
        v.Cine().Advance();
        const std::vector<uint32_t> shown(v.Surface().Pixels(),
                                          v.Surface().Pixels() + 100 * 100);
        v.RedrawRect(nullptr);
        ASSERT_TRUE(std::equal(shown.begin(), shown.end(), v.Surface().Pixels())) << step;
    }
    EXPECT_TRUE(v.Cine().Caching());
}

// The cache keeps grey frames one byte a pixel: exact both ways; a pixel not grey refuses.
TEST(GreyPixels, RoundTripExactlyAndRefuseColour) {
    std::vector<uint32_t> pixels(37);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint32_t(i * 7 % 256) * 0x010101u;
    std::vector<uint8_t> grey(pixels.size());
    ASSERT_TRUE(PackGrey(pixels.data(), grey.data(), pixels.size()));
    std::vector<uint32_t> back(pixels.size());
    ExpandGrey(grey.data(), back.data(), back.size());
    EXPECT_EQ(back, pixels);
    pixels[35] = 0x00102030u;  // in the tail, after two vector blocks
    EXPECT_FALSE(PackGrey(pixels.data(), grey.data(), pixels.size()));
}

// The timing thread, the UI loop and the viewports for real: panels interleave, stopping one
// keeps the other going, play, stop, play always plays, and a viewport that goes while
// playing leaves the schedule.
TEST(CineEngine, PanelsInterleaveAndRestartOnTheRealClock) {
    OpenedImage opened = Frames(200);
    CHeadlessEventLoop loop;
    Panels panels;
    panels.engine = std::make_unique<CCineEngine>(CineEngineServices{
        {},
        [&](std::function<void()> tick) { return loop.Post(std::move(tick)); },
        [&](uint32_t panel) -> ICinePlayer* {
            auto& v = panels.viewports;
            return panel <= v.size() && v[panel - 1] ? &v[panel - 1]->Cine() : nullptr;
        }});
    CCineEngine& engine = *panels.engine;
    CViewport2D& slow = panels.Add(opened);
    CViewport2D& fast = panels.Add(opened);
    const auto runFor = [&](std::chrono::milliseconds span, auto done) {
        const auto end = std::chrono::steady_clock::now() + span;
        while (!done() && std::chrono::steady_clock::now() < end) {
            loop.RunPending();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    };
    const auto never = [] { return false; };
    slow.Cine().SetRate(5);
    fast.Cine().SetRate(30);
    ASSERT_TRUE(slow.Cine().Start() && fast.Cine().Start());
    runFor(std::chrono::milliseconds(650), never);
    const size_t slowSteps = slow.BrowsePosition(), fastSteps = fast.BrowsePosition();
    EXPECT_GE(slowSteps, 2u);
    EXPECT_GE(fastSteps, 3 * slowSteps);
    fast.Cine().Stop();
    runFor(std::chrono::milliseconds(450), never);
    EXPECT_EQ(fast.BrowsePosition(), fastSteps);
    EXPECT_GT(slow.BrowsePosition(), slowSteps);
    slow.Cine().Stop();
    EXPECT_FALSE(engine.TimingThreadRunning());

    fast.Cine().SetRate(1000);
    for (int cycle = 0; cycle < 100; ++cycle) {
        const size_t start = fast.BrowsePosition();
        const auto moved = [&] { return (fast.BrowsePosition() + 200 - start) % 200; };
        ASSERT_TRUE(fast.Cine().Start());
        runFor(std::chrono::milliseconds(300), [&] { return moved() >= 2; });
        ASSERT_GE(moved(), 2u) << "cycle " << cycle;
        fast.Cine().Stop();
    }
    ASSERT_TRUE(fast.Cine().Start());
    panels.viewports[1].reset();
    EXPECT_FALSE(engine.IsPlaying(2) || engine.TimingThreadRunning());
    runFor(std::chrono::milliseconds(20), never);
}

}  // namespace
}  // namespace vexel::test
