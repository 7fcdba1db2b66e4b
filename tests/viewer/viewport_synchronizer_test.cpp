// Following other viewports: which events are followed, and that following never cascades.
#include <gtest/gtest.h>

#include "engine/system_hooks.h"
#include "engine/ui_dispatcher.h"
#include "engine/vexel_engine.h"
#include "platform/headless_event_loop.h"
#include "viewer/viewport_synchronizer.h"
#include "viewport_test_support.h"

namespace vexel::test {
namespace {

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
    CHeadlessEventLoop loop;
    CUIDispatcher dispatcher(loop);
    CVexelEngine engine(dispatcher);
    SystemHooks hooks;
    ASSERT_TRUE(RegisterSystemHooks(engine, hooks));
    CSameImage finder;
    bool setting = true;
    CSeriesStateStore states;
    CWindowPresetTable presets;
    CRecordingWindow window;
    ViewportServices services;
    services.states = &states;
    services.presets = &presets;
    services.engine = &engine;
    services.viewportHook = hooks.viewport2D;
    services.correspondingImages = &finder;
    services.autoSynchronise = [&] { return setting; };
    CViewport2D a(services), b(services);
    for (CViewport2D* v : {&a, &b}) {
        v->Create(window);
        v->SizeChanged(80, 80);
        v->SetPanelId(v == &a ? 1 : 2);
        for (const OpenedImage& image : ct)
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
    for (const OpenedImage& image : ct)
        b.AddImage(CFileRef(), *image.image, 0);
    const int asked = finder.asked;
    a.Browse(1);
    EXPECT_EQ(finder.asked, asked);
}

}  // namespace
}  // namespace vexel::test
