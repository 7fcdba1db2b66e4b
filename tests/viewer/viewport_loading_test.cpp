// How a viewport takes the images of a load: display order, the once-a-second merge of images
// that arrive while it shows, stale loads, other series, and Clear.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "engine/system_hooks.h"
#include "engine/ui_dispatcher.h"
#include "engine/vexel_engine.h"
#include "imaging/dicom_frame.h"
#include "platform/headless_event_loop.h"
#include "viewer/viewport_hash.h"
#include "viewport_test_support.h"

namespace vexel {
namespace {

using namespace std::chrono_literals;
using test::OpenSeries;
using test::PhantomCtSeries;
using test::PhantomPetSeries;
using test::ViewportRig;

std::vector<int32_t> ListedInstanceNumbers(const CViewport2D& viewport) {
    std::vector<int32_t> numbers;
    for (size_t i = 0; i < viewport.ImageCount(); ++i)
        numbers.push_back(viewport.ImageAt(i)->InstanceNumber());
    return numbers;
}

TEST(ViewportLoading, ImagesAreListedInDisplayOrderWhateverTheArrival) {
    const auto ct = OpenSeries(PhantomCtSeries());
    ViewportRig rig;
    CViewport2D& v = *rig.viewport;
    for (size_t i = ct.size(); i-- > 1;)
        ASSERT_TRUE(rig.Add(ct[i]));
    // The first arrival is shown at once; the rest wait for the merge.
    EXPECT_EQ(v.ImageCount(), 1u);
    EXPECT_EQ(v.PendingCount(), ct.size() - 2);
    EXPECT_EQ(v.CurrentImage(), ct.back().image);
    v.MergePendingImages();
    EXPECT_EQ(v.PendingCount(), 0u);
    // Nothing chosen yet: the series opens at its first image, not at the first arrival.
    EXPECT_EQ(v.CurrentIndex(), 0u);
    EXPECT_EQ(v.CurrentImage(), ct[1].image);
    // Once an image is chosen it stays on screen while others go in before it.
    v.ShowImage(2, false, true);
    ASSERT_TRUE(rig.Add(ct[0]));
    v.MergePendingImages();
    auto numbers = ListedInstanceNumbers(v);
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
    EXPECT_LT(numbers.front(), numbers.back());
    EXPECT_EQ(numbers.size(), ct.size());
    EXPECT_EQ(v.CurrentImage(), ct.back().image);
    EXPECT_EQ(v.CurrentIndex(), ct.size() - 1);
    EXPECT_TRUE(v.ScrollBar().Active());
    EXPECT_EQ(v.ScrollBar().Maximum(), int32_t(ct.size()) - 1);
    EXPECT_EQ(v.ScrollBar().Position(), int32_t(ct.size()) - 1);
}

TEST(ViewportLoading, ArrivalsMergeAtMostOnceASecondAndTheLastOnesAtTheEnd) {
    const auto ct = OpenSeries(PhantomCtSeries());
    ViewportRig rig;
    CViewport2D& v = *rig.viewport;
    ASSERT_TRUE(rig.Add(ct[0]));
    rig.Advance(400ms);
    ASSERT_TRUE(rig.Add(ct[1]));
    EXPECT_EQ(v.ImageCount(), 1u) << "merged within a second of the last present";
    rig.Advance(700ms);
    ASSERT_TRUE(rig.Add(ct[2]));
    EXPECT_EQ(v.ImageCount(), 3u) << "a second after the last present the pending ones merge";
    rig.Advance(100ms);
    ASSERT_TRUE(rig.Add(ct[3]));
    EXPECT_EQ(v.ImageCount(), 3u);
    // The load ends: whatever is pending goes in.
    v.MergePendingImages();
    EXPECT_EQ(v.ImageCount(), 4u);
    EXPECT_FALSE(rig.Add(ct[3])) << "an image is listed once";
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

TEST(ViewportLoading, ClearDropsThePendingImagesAndMakesTheRunningLoadStale) {
    const auto ct = OpenSeries(PhantomCtSeries());
    ViewportRig rig;
    CViewport2D& v = *rig.viewport;
    const uint32_t generation = v.LoadGeneration();
    ASSERT_TRUE(rig.Add(ct[0], generation));
    ASSERT_TRUE(rig.Add(ct[1], generation));
    ASSERT_EQ(v.PendingCount(), 1u);
    v.Clear(true);
    EXPECT_EQ(v.PendingCount(), 0u);
    EXPECT_EQ(v.ImageCount(), 0u);
    EXPECT_EQ(v.CurrentFrame(), nullptr);
    EXPECT_FALSE(v.ScrollBar().Active());
    EXPECT_TRUE(v.SeriesKey().empty());
    v.MergePendingImages();
    EXPECT_EQ(v.ImageCount(), 0u) << "nothing from before the Clear comes back";
    EXPECT_FALSE(rig.Add(ct[2], generation)) << "the cancelled load's late images";
    EXPECT_NE(v.LoadGeneration(), generation);
    ASSERT_TRUE(rig.Add(ct[2], v.LoadGeneration()));
    EXPECT_EQ(v.CurrentImage(), ct[2].image);
    // The surface is black after a Clear with redraw.
    v.Clear(true);
    const CViewportSurface& s = v.Surface();
    EXPECT_TRUE(std::all_of(s.Pixels(), s.Pixels() + size_t(s.Width()) * s.Height(),
                            [](uint32_t p) { return p == 0; }));
}

TEST(ViewportIds, AreUniqueAndFoundUntilTheViewportGoes) {
    std::vector<uint32_t> ids(40);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 4; ++t) {
        threads.emplace_back([&ids, t] {
            for (size_t i = t; i < ids.size(); i += 4) {
                CViewport2D viewport(ViewportServices{});
                ids[i] = viewport.Id();
                EXPECT_EQ(CViewportHash::Instance().Find(viewport.Id()), &viewport);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
    EXPECT_EQ(ids.front() == 0, false);
    for (uint32_t id : ids)
        EXPECT_EQ(CViewportHash::Instance().Find(id), nullptr);
}

struct EventLog {
    std::vector<std::pair<uint32_t, uint64_t>> events;
    std::vector<uint32_t> shownImageIndexes;
    static uint32_t Record(uint32_t code, uint64_t payload, void* context) {
        auto* log = static_cast<EventLog*>(context);
        log->events.emplace_back(code, payload);
        if (code == EventCode(Viewport2DEvent::DisplayedImageChanged)) {
            const auto* record = reinterpret_cast<const DisplayedImageRecord*>(payload);
            log->shownImageIndexes.push_back(record->imageIndex);
        }
        return 0;
    }
    size_t Count(Viewport2DEvent event) const {
        return size_t(std::count_if(events.begin(), events.end(), [event](const auto& e) {
            return e.first == EventCode(event);
        }));
    }
};

TEST(ViewportEvents, OnScreenViewportsReportAndOffScreenOnesStaySilent) {
    const auto ct = OpenSeries(PhantomCtSeries());
    CHeadlessEventLoop loop;
    CUIDispatcher dispatcher(loop);
    CVexelEngine engine(dispatcher);
    SystemHooks hooks;
    ASSERT_TRUE(RegisterSystemHooks(engine, hooks));
    EventLog log;
    ASSERT_NE(engine.Subscribe(kViewport2DHookName, &EventLog::Record, &log), 0u);

    CSeriesStateStore states;
    CWindowPresetTable presets;
    test::CRecordingWindow window;
    ViewportServices services;
    services.states = &states;
    services.presets = &presets;
    services.engine = &engine;
    services.viewportHook = hooks.viewport2D;
    {
        CViewport2D v(services);
        v.SetPanelId(77);
        v.Create(window);
        v.SizeChanged(140, 128);
        for (const auto& image : ct)
            v.AddImage(CFileRef(), *image.image, 0);
        v.MergePendingImages();
        EXPECT_EQ(log.Count(Viewport2DEvent::FirstImageShown), 1u);
        EXPECT_EQ(log.Count(Viewport2DEvent::ImageListChanged), 2u);
        EXPECT_GE(log.Count(Viewport2DEvent::LookupChanged), 1u);
        v.Browse(+1);
        v.Browse(+10);
        ASSERT_EQ(log.shownImageIndexes.size(), 2u);
        EXPECT_EQ(log.shownImageIndexes[0], 1u);
        EXPECT_EQ(log.shownImageIndexes[1], (1u + 10u) % ct.size()) << "browsing wraps";
        v.Clear(true);
        EXPECT_EQ(log.Count(Viewport2DEvent::SeriesClearing), 1u);
        EXPECT_EQ(log.events.back(),
                  std::make_pair(EventCode(Viewport2DEvent::Cleared), uint64_t(77)));
    }
    log.events.clear();
    {
        CViewport2D offscreen(services);
        offscreen.SetPanelId(78);
        ASSERT_TRUE(offscreen.CreateOffscreen(64, 64, ViewGeometry{}));
        for (const auto& image : ct)
            offscreen.AddImage(CFileRef(), *image.image, 0);
        offscreen.SelectPreset(3);
        offscreen.ShowImage(2, true, true);
        offscreen.Clear(true);
        EXPECT_TRUE(log.events.empty());
        EXPECT_EQ(offscreen.Resampler().ThreadCount(), 1u) << "no private pool off screen";
    }
    UnregisterSystemHooks(engine, hooks);
}

}  // namespace
}  // namespace vexel
