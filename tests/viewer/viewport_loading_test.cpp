// How a viewport takes the images of a load: display order, stale loads and other series,
// and the events on-screen viewports fire.
#include <gtest/gtest.h>

#include <algorithm>

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
        v.Browse(+1);
        v.Browse(+10);
        EXPECT_EQ(log.shownImageIndexes,
                  (std::vector<uint32_t>{1u, (1u + 10u) % uint32_t(ct.size())}));
        v.Clear(true);
        EXPECT_EQ(log.codes.back(), EventCode(Viewport2DEvent::Cleared));
    }
    log.codes.clear();
    {
        CViewport2D offscreen(services);
        offscreen.SetPanelId(78);
        ASSERT_TRUE(offscreen.CreateOffscreen(64, 64, ViewGeometry{}));
        for (const auto& image : ct)
            offscreen.AddImage(CFileRef(), *image.image, 0);
        offscreen.ShowImage(2, true, true);
        offscreen.Clear(true);
        EXPECT_TRUE(log.codes.empty());
    }
    UnregisterSystemHooks(engine, hooks);
}

}  // namespace
}  // namespace vexel
