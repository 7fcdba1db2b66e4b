// Cine: the acquired rate and per-frame intervals, the timing feedback, the render cache,
// and the engine's schedule with real threads.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>

#include "common/test_paths.h"
#include "imaging/binary_value_mem_cacher.h"
#include "platform/headless_event_loop.h"
#include "viewer/cine_engine.h"
#include "viewer/cine_rate.h"
#include "viewer/viewport_annotations.h"
#include "viewer/viewport_cine.h"
#include "viewport_test_support.h"

namespace vexel::test {
namespace {

HandImage Frames(int frames, std::vector<HandImage::Extra> extra) {
    HandImage image;
    image.rows = image.columns = 8;
    image.pixels.assign(64, 100);
    image.frames = frames;
    image.extra = std::move(extra);
    return image;
}

TEST(CineRate, AcquiredRateAndFrameIntervals) {
    struct Case {
        std::vector<HandImage::Extra> extra;
        float rate;
    };
    const Case cases[] = {
        {{}, 10},
        {{{0x00082144, "IS", "25"}, {0x00181063, "DS", "50"}}, 25},
        {{{0x00082144, "IS", "0"}, {0x00181063, "DS", "33.333"}}, 1000 / 33.333f},
        {{{0x00180040, "IS", "15"}, {0x00181063, "DS", "-4"}}, 15},
        {{{0x00082144, "IS", "-5"}, {0x00180040, "IS", "0"}}, 10},
        {{{0x00181063, "DS", "0.1"}}, 1000},
        {{{0x00082144, "IS", "1"}}, 1},
    };
    for (const Case& c : cases) {
        OpenedImage opened = OpenHandImage(Frames(1, c.extra), "rate");
        EXPECT_FLOAT_EQ(AcquiredFrameRate(opened.image->File()), c.rate) << c.extra.size();
    }
    // Frame k shows for increment k + 1; the last frame and unusable increments get 0.
    OpenedImage vector = OpenHandImage(Frames(5, {{0x00181065, "DS", "0\\40\\20.5\\x\\-3"}}), "v");
    EXPECT_EQ(FrameIntervals(vector.image->File(), 5),
              (std::vector<uint32_t>{40000, 20500, 0, 0, 0}));
    EXPECT_TRUE(FrameIntervals(vector.image->File(), 1).empty());
    OpenedImage none = OpenHandImage(Frames(3, {{0x00181065, "DS", "0\\0\\0"}}), "none");
    EXPECT_TRUE(FrameIntervals(none.image->File(), 3).empty());
}

// A viewport of panel 1 whose cine runs on a clock the test moves; the engine's ticks are
// dropped, so the test calls Advance itself.
struct CineRig {
    explicit CineRig(std::function<bool(std::function<void()>)> post = [](auto) { return true; })
        : engine({[this] { return now.load(); }, std::move(post), {}}) {
        ViewportServices services;
        services.states = &states;
        services.presets = &presets;
        services.cine = &engine;
        services.renderCache = &cache;
        viewport = std::make_unique<CViewport2D>(services);
        viewport->Create(window);
        viewport->SizeChanged(120, 100);
        viewport->SetPanelId(1);
    }
    CViewport2DCine& Cine() { return viewport->Cine(); }

    std::atomic<uint64_t> now{1000000};
    CCineEngine engine;
    CBinaryValueMemCacher cache;
    CSeriesStateStore states;
    CWindowPresetTable presets;
    CRecordingWindow window;
    std::unique_ptr<CViewport2D> viewport;
};

TEST(ViewportCine, FrameIntervalsRatesAndTheirBounds) {
    OpenedImage opened =
        OpenHandImage(Frames(4, {{0x00181065, "DS", "0\\100\\50\\25"}}), "intervals");
    CineRig rig;
    rig.viewport->AddImage(CFileRef(), *opened.image, 0);
    ASSERT_TRUE(rig.Cine().Start());
    EXPECT_FALSE(rig.Cine().Start());
    EXPECT_EQ(rig.Cine().Period(), 100000u);  // no rate recorded: 10 per second
    // Each frame for its own interval; the last one for the period of the image's rate.
    std::vector<uint64_t> shown;
    for (int i = 0; i < 4; ++i) {
        const uint64_t due = rig.Cine().Advance();
        shown.push_back(due - rig.now - rig.Cine().Correction());
        rig.now = due;
    }
    EXPECT_EQ(shown, (std::vector<uint64_t>{50000, 25000, 100000, 100000}));
    EXPECT_EQ(rig.viewport->CurrentFrameIndex(), 0u);

    // A chosen rate plays every frame alike. Frames that come late by half make the
    // correction shorten the period, never by more than a fifth.
    rig.Cine().SetRate(20);
    for (int i = 0; i < 200; ++i) {
        const uint64_t due = rig.Cine().Advance();
        ASSERT_EQ(int64_t(due - rig.now), 50000 + rig.Cine().Correction());
        rig.now += 75000;
    }
    EXPECT_EQ(rig.Cine().Correction(), -10000);
    EXPECT_NEAR(rig.Cine().MeasuredRate(), 1e6f / 75000, 0.5f);
    // A typed 0 or a negative rate never plays flat out: the acquired rate comes back.
    rig.Cine().Stop();
    rig.Cine().SetRate(-5);
    ASSERT_TRUE(rig.Cine().Start());
    EXPECT_EQ(rig.Cine().Period(), 100000u);
}

TEST(ViewportCine, RefusedStartsDragsClearAndTheCache) {
    OpenedImage single = OpenHandImage(Frames(1, {}), "single");
    OpenedImage second = OpenHandImage(Frames(2, {}), "second");
    CineRig rig;
    rig.viewport->AddImage(CFileRef(), *single.image, 0);
    EXPECT_FALSE(rig.Cine().Start()) << "one frame";
    rig.viewport->Clear(false);
    rig.viewport->AddImage(CFileRef(), *second.image, 0);
    rig.viewport->SetPanelId(0);
    EXPECT_FALSE(rig.Cine().Start()) << "no panel";
    rig.viewport->SetPanelId(1);
    ASSERT_TRUE(rig.Cine().Start());
    EXPECT_TRUE(rig.engine.IsPlaying(1));

    // While a drag is in progress the clock runs but the image stays.
    rig.viewport->MouseDown(10, 10, MouseButton::Middle);
    const size_t before = rig.viewport->BrowsePosition();
    EXPECT_GT(rig.Cine().Advance(), rig.now);
    rig.viewport->MouseWheel(-120);  // nor does the wheel browse
    EXPECT_EQ(rig.viewport->BrowsePosition(), before);
    rig.viewport->MouseUp(10, 10, MouseButton::Middle);

    // Rendered frames are kept; a zoom change drops them once.
    rig.Cine().Advance();
    rig.Cine().Advance();
    EXPECT_GT(rig.cache.TotalBytes(), 0u);
    const uint32_t drops = rig.Cine().CacheDrops();
    rig.viewport->SetZoom(2);
    rig.Cine().Advance();
    rig.Cine().Advance();
    EXPECT_EQ(rig.Cine().CacheDrops(), drops + 1);

    // Clearing the viewport ends playback and empties the cache.
    rig.viewport->Clear(false);
    EXPECT_FALSE(rig.Cine().Playing());
    EXPECT_FALSE(rig.engine.IsPlaying(1));
    EXPECT_FALSE(rig.engine.TimingThreadRunning());
    EXPECT_EQ(rig.cache.TotalBytes(), 0u);
    EXPECT_EQ(rig.Cine().Advance(), 0u);
}

TEST(ViewportCine, AcquiredRateOfARealLoop) {
    VEXEL_REQUIRE_TESTDATA();
    OpenedImage loop = OpenFile(TestDataDir() / "pydicom/test_files/examples_ybr_color.dcm");
    ASSERT_NE(loop.image, nullptr);
    CineRig rig;
    rig.viewport->AddImage(CFileRef(), *loop.image, 0);
    ASSERT_TRUE(rig.Cine().Start());
    rig.Cine().Advance();
    EXPECT_EQ(rig.Cine().Period(), PeriodOf(1000 / 33.333f));
    const auto texts = rig.viewport->Annotations().ShownTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text, "30 fps");
}

// The timing thread, the UI loop and the viewports for real: panels interleave, stopping one
// keeps the other going, and play, stop, play always plays.
TEST(CineEngine, PanelsInterleaveAndRestartOnTheRealClock) {
    OpenedImage opened = OpenHandImage(Frames(200, {}), "loop");
    CHeadlessEventLoop loop;
    std::map<uint32_t, CViewport2D*> panels;
    CCineEngine engine({{},
                        [&](std::function<void()> tick) { return loop.Post(std::move(tick)); },
                        [&](uint32_t panel) -> ICinePlayer* {
                            auto found = panels.find(panel);
                            return found == panels.end() ? nullptr : &found->second->Cine();
                        }});
    CSeriesStateStore states;
    CWindowPresetTable presets;
    CRecordingWindow window;
    ViewportServices services;
    services.states = &states;
    services.presets = &presets;
    services.cine = &engine;
    std::vector<std::unique_ptr<CViewport2D>> viewports;
    for (uint32_t panel : {1u, 2u}) {
        viewports.push_back(std::make_unique<CViewport2D>(services));
        viewports.back()->Create(window);
        viewports.back()->SizeChanged(40, 40);
        viewports.back()->SetPanelId(panel);
        viewports.back()->AddImage(CFileRef(), *opened.image, 0);
        panels[panel] = viewports.back().get();
    }
    const auto runFor = [&](std::chrono::milliseconds span, auto done) {
        const auto end = std::chrono::steady_clock::now() + span;
        while (!done() && std::chrono::steady_clock::now() < end) {
            loop.RunPending();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    };
    CViewport2D& slow = *viewports[0];
    CViewport2D& fast = *viewports[1];
    slow.Cine().SetRate(5);
    fast.Cine().SetRate(30);
    ASSERT_TRUE(slow.Cine().Start() && fast.Cine().Start());
    runFor(std::chrono::milliseconds(650), [] { return false; });
    const size_t slowSteps = slow.BrowsePosition();
    const size_t fastSteps = fast.BrowsePosition();
    EXPECT_GE(slowSteps, 2u);
    EXPECT_GE(fastSteps, 3 * slowSteps);
    fast.Cine().Stop();
    runFor(std::chrono::milliseconds(450), [] { return false; });
    EXPECT_EQ(fast.BrowsePosition(), fastSteps);
    EXPECT_GT(slow.BrowsePosition(), slowSteps);
    slow.Cine().Stop();
    EXPECT_FALSE(engine.TimingThreadRunning());

    fast.Cine().SetRate(1000);
    for (int cycle = 0; cycle < 100; ++cycle) {
        const size_t start = fast.BrowsePosition();
        ASSERT_TRUE(fast.Cine().Start());
        runFor(std::chrono::milliseconds(300),
               [&] { return (fast.BrowsePosition() + 200 - start) % 200 >= 2; });
        ASSERT_GE((fast.BrowsePosition() + 200 - start) % 200, 2u) << "cycle " << cycle;
        fast.Cine().Stop();
    }
    // A viewport that goes while playing leaves the schedule with it.
    ASSERT_TRUE(fast.Cine().Start());
    panels.erase(2);
    viewports[1].reset();
    EXPECT_FALSE(engine.IsPlaying(2));
    EXPECT_FALSE(engine.TimingThreadRunning());
    runFor(std::chrono::milliseconds(20), [] { return false; });
}

}  // namespace
}  // namespace vexel::test
