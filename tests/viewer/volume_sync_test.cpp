// Synchronised browsing through the volume manager: a viewport follows another of its frame of
// reference to the nearest slice and stays put beyond its stack; off-screen viewports never
// reach the manager, and clearing or destroying a viewport lets its volumes go.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/system_hooks.h"
#include "engine/vexel_engine.h"
#include "engine/volume_manager.h"
#include "platform/headless_event_loop.h"
#include "viewer/volume_correspondence.h"
#include "viewer_test_support.h"

namespace vexel {
namespace {

using test::OpenedImage;

// Axial 2 x 2 slices of one series at the given heights.
std::vector<OpenedImage> Stack(const std::string& series, std::vector<int> zs,
                               const std::string& frameOfReference = "1.2.3.9") {
    std::vector<OpenedImage> images;
    for (int z : zs) {
        test::HandImage wanted;
        wanted.rows = wanted.columns = 2;
        wanted.pixels = {0, 100, 200, 300};
        wanted.extra = {{0x0020000D, "UI", "1.2.3"},
                        {0x0020000E, "UI", series},
                        {0x00200032, "DS", "0\\0\\" + std::to_string(z)},
                        {0x00200037, "DS", "1\\0\\0\\0\\1\\0"},
                        {0x00200052, "UI", frameOfReference}};
        images.push_back(test::OpenHandImage(wanted, "sync-" + series + "-" + std::to_string(z)));
    }
    return images;
}

TEST(VolumeSync, FollowsTheNearestSliceAndStaysPutBeyondTheStack) {
    CHeadlessEventLoop loop;
    CUIDispatcher dispatcher{loop};
    CVexelEngine engine{dispatcher};
    SystemHooks hooks;
    ASSERT_TRUE(RegisterSystemHooks(engine, hooks));
    CVolumeManager volumes(&engine, hooks.volumeManager);
    CVolumeCorrespondence correspondence(volumes);
    CSeriesStateStore states;
    CWindowPresetTable presets;
    test::CRecordingWindow window;
    ViewportServices services;
    services.states = &states;
    services.presets = &presets;
    services.engine = &engine;
    services.viewportHook = hooks.viewport2D;
    services.volumes = &volumes;
    services.correspondingImages = &correspondence;
    const auto show = [&](CViewport2D& v, uint32_t panel, const std::vector<OpenedImage>& images) {
        v.Create(window);
        v.SizeChanged(60, 60);
        v.SetPanelId(panel);
        for (const OpenedImage& image : images)
            v.AddImage(CFileRef(), *image.image, 0);
        v.MergePendingImages();
    };
    const auto indexOf = [](CViewport2D& v, const OpenedImage& image) {
        for (size_t i = 0; i < v.ImageCount(); ++i)
            if (v.ImageAt(i) == image.image) return i;
        return SIZE_MAX;
    };
    const auto fine = Stack("1.2.3.1", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    const auto coarse = Stack("1.2.3.2", {3, 5, 7});
    const auto other = Stack("1.2.3.3", {0, 1, 2}, "1.2.3.8");
    uint32_t destroyed = 0;
    {
        CViewport2D a(services), b(services), c(services);
        destroyed = a.Id();
        show(a, 1, fine);
        show(b, 2, coarse);
        show(c, 3, other);
        // z shown in a -> z b shows (b covers 2..8); ties (z 4 and 6) are left out.
        const int steps[][2] = {{5, 5}, {8, 7}, {9, 7}, {2, 3}, {1, 3}, {0, 3}, {5, 5}, {9, 5}};
        for (const auto& [z, followed] : steps) {
            SCOPED_TRACE(z);
            a.ShowImage(indexOf(a, fine[size_t(z)]), true, true);
            EXPECT_EQ(b.CurrentIndex(), indexOf(b, coarse[size_t(followed - 3) / 2]));
            EXPECT_EQ(c.CurrentIndex(), indexOf(c, other[0])) << "another frame of reference";
        }
        b.Clear(false);
        EXPECT_EQ(volumes.CountVolumes(b.Id()), 0u);
        EXPECT_EQ(volumes.CountVolumes(a.Id()), 1u);
        CViewport2D offscreen(services);
        ASSERT_TRUE(offscreen.CreateOffscreen(60, 60, ViewGeometry{}));
        for (const OpenedImage& image : coarse)
            offscreen.AddImage(CFileRef(), *image.image, 0);
        EXPECT_EQ(volumes.CountVolumes(offscreen.Id()), 0u);
    }
    EXPECT_EQ(volumes.CountVolumes(destroyed), 0u) << "a destroyed viewport left its volumes";
    UnregisterSystemHooks(engine, hooks);
}

}  // namespace
}  // namespace vexel
