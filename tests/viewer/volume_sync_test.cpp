// Synchronised browsing through the volume manager: a viewport follows another of the same
// frame of reference to its nearest slice and stays put when the slice lies beyond its stack;
// off-screen viewports never reach the manager, and clearing or destroying a viewport lets
// its volumes go.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/system_hooks.h"
#include "engine/vexel_engine.h"
#include "engine/volume_manager.h"
#include "platform/headless_event_loop.h"
#include "viewer/viewport_synchronizer.h"
#include "viewer/volume_correspondence.h"
#include "viewer_test_support.h"

namespace vexel {
namespace {

using test::HandImage;
using test::OpenedImage;

// One axial slice of a series at height z (a 2 x 2 image).
OpenedImage AxialSlice(const std::string& series, float z, const std::string& frameOfReference) {
    HandImage wanted;
    wanted.rows = wanted.columns = 2;
    wanted.pixels = {0, 100, 200, 300};
    wanted.extra = {{0x00180050, "DS", "1"},
                    {0x0020000D, "UI", "1.2.3"},
                    {0x0020000E, "UI", series},
                    {0x00200032, "DS", "0\\0\\" + std::to_string(z)},
                    {0x00200037, "DS", "1\\0\\0\\0\\1\\0"},
                    {0x00200052, "UI", frameOfReference}};
    return OpenHandImage(wanted, "sync-" + series + "-" + std::to_string(z));
}

struct SyncRig {
    SyncRig() {
        EXPECT_TRUE(RegisterSystemHooks(engine, hooks));
        services.states = &states;
        services.presets = &presets;
        services.engine = &engine;
        services.viewportHook = hooks.viewport2D;
        services.volumes = &volumes;
        services.correspondingImages = &correspondence;
    }
    ~SyncRig() { UnregisterSystemHooks(engine, hooks); }

    void Show(CViewport2D& v, uint32_t panel, const std::vector<OpenedImage>& images) {
        v.Create(window);
        v.SizeChanged(60, 60);
        v.SetPanelId(panel);
        for (const OpenedImage& image : images)
            v.AddImage(CFileRef(), *image.image, 0);
        v.MergePendingImages();
    }

    CHeadlessEventLoop loop;
    CUIDispatcher dispatcher{loop};
    CVexelEngine engine{dispatcher};
    SystemHooks hooks;
    CVolumeManager volumes{&engine, {}};
    CVolumeCorrespondence correspondence{volumes};
    CSeriesStateStore states;
    CWindowPresetTable presets;
    test::CRecordingWindow window;
    ViewportServices services;
};

size_t IndexOf(CViewport2D& v, const OpenedImage& image) {
    for (size_t i = 0; i < v.ImageCount(); ++i)
        if (v.ImageAt(i) == image.image) return i;
    return SIZE_MAX;
}

TEST(VolumeSync, FollowsTheNearestSliceAndStaysPutBeyondTheStack) {
    std::vector<OpenedImage> fine, coarse, other;
    for (int z = 0; z < 10; ++z)
        fine.push_back(AxialSlice("1.2.3.1", float(z), "1.2.3.9"));
    for (float z : {3.0f, 5.0f, 7.0f})
        coarse.push_back(AxialSlice("1.2.3.2", z, "1.2.3.9"));
    for (float z : {0.0f, 1.0f, 2.0f})
        other.push_back(AxialSlice("1.2.3.3", z, "1.2.3.8"));
    SyncRig r;
    CViewport2D a(r.services), b(r.services), c(r.services);
    r.Show(a, 1, fine);
    r.Show(b, 2, coarse);
    r.Show(c, 3, other);
    ASSERT_EQ(r.volumes.CountVolumes(a.Id()), 1u);
    ASSERT_EQ(r.volumes.CountVolumes(b.Id()), 1u);

    // z shown in a -> z b shows afterwards (b's stack covers 2..8; beyond it b stays).
    // Ties (z 4 and 6) are left out: either neighbour is right.
    const struct {
        int z;
        float followed;
    } steps[] = {{5, 5}, {8, 7}, {9, 7}, {2, 3}, {1, 3}, {0, 3}, {5, 5}, {9, 5}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.z);
        a.ShowImage(IndexOf(a, fine[size_t(step.z)]), true, true);
        const size_t expected = IndexOf(b, coarse[size_t((step.followed - 3) / 2)]);
        EXPECT_EQ(b.CurrentIndex(), expected);
        EXPECT_EQ(c.CurrentIndex(), IndexOf(c, other[0])) << "another frame of reference";
    }

    // Clearing and destroying let the volumes go; off-screen viewports never register.
    b.Clear(false);
    EXPECT_EQ(r.volumes.CountVolumes(b.Id()), 0u);
    uint32_t destroyed = 0;
    {
        CViewport2D d(r.services);
        r.Show(d, 4, coarse);
        destroyed = d.Id();
        EXPECT_EQ(r.volumes.CountVolumes(destroyed), 1u);
    }
    EXPECT_EQ(r.volumes.CountVolumes(destroyed), 0u);
    CViewport2D offscreen(r.services);
    ASSERT_TRUE(offscreen.CreateOffscreen(60, 60, ViewGeometry{}));
    for (const OpenedImage& image : coarse)
        offscreen.AddImage(CFileRef(), *image.image, 0);
    EXPECT_EQ(r.volumes.CountVolumes(offscreen.Id()), 0u);
    EXPECT_EQ(r.volumes.PairCount(), 0u) << "a alone has nothing to pair with";
}

}  // namespace
}  // namespace vexel
