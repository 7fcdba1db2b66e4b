// The reformatting tool on an on-screen viewport, with the real engine thread, volume manager,
// memory manager and task manager; the test thread is the user-interface loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/test_paths.h"
#include "engine/memory_services.h"
#include "engine/task_manager.h"
#include "engine/ui_dispatcher.h"
#include "engine/volume_manager.h"
#include "imaging/dicom_image.h"
#include "phantom/geometry_series.h"
#include "platform/checked_alloc.h"
#include "platform/headless_event_loop.h"
#include "platform/memory_load.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_2d.h"
#include "viewer/window_preset.h"
#include "volume/mpr_engine.h"
#include "volume/viewport_mpr.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;
using phantom::GeometryCase;

class CNullWindow final : public IViewportWindow {
public:
    void PresentSurface(const CViewportSurface&, const PixelRect*) override {}
};

class ViewportMpr : public ::testing::Test {
protected:
    CHeadlessEventLoop loop;
    CUIDispatcher dispatcher{loop};
    CSystemMemoryLoad load;
    CMemoryServices memory{load};
    CTaskManager tasks;
    CVolumeManager volumes{nullptr, {}};
    CSeriesStateStore states;
    CWindowPresetTable presets;
    CNullWindow window;
    std::vector<std::string> errors;
    MprEngineServices engineServices;
    std::unique_ptr<CMPREngine> engine;
    std::unique_ptr<CViewport2D> viewport;

    void Start(GeometryCase which, const std::function<void(const fs::path&)>& spoil = {}) {
        engineServices.postToUI = [this](std::function<void()> call) {
            return dispatcher
                .PostToUIThread([call = std::move(call)] {
                    call();
                    return uint32_t(0);
                })
                .has_value();
        };
        engine = std::make_unique<CMPREngine>(engineServices);
        MprServices mpr{engine.get(), &memory.Manager(),
                        &tasks,       &volumes,
                        {},           [this](const std::string& m) { errors.push_back(m); }};
        ViewportServices services;
        services.states = &states;
        services.presets = &presets;
        services.volumes = &volumes;
        services.mprTool = [mpr](CViewport2D& v) {
            return std::make_unique<CViewport2DMPR>(v, mpr);
        };
        viewport = std::make_unique<CViewport2D>(services);
        viewport->Create(window);
        viewport->SizeChanged(200, 200);
        const fs::path dir =
            test::ScratchDir(std::string("viewport-mpr-") + phantom::GeometryCaseName(which) +
                             (spoil ? "-spoilt" : ""));
        std::string error;
        ASSERT_TRUE(phantom::WriteGeometrySeries(dir, phantom::GeometryCaseOptions(which), &error));
        if (spoil) spoil(dir);
        for (const auto& entry : fs::directory_iterator(dir)) {
            auto [file, status] = memory.Manager().Open(entry.path());
            if (CDicomImage* image = file ? CDicomImage::Of(*file) : nullptr)
                viewport->AddImage(std::move(file), *image, 0);
        }
        viewport->MergePendingImages();
    }
    void TearDown() override {
        viewport.reset();
        engine.reset();
        loop.RunPending();
    }
    CViewport2DMPR& Mpr() { return dynamic_cast<CViewport2DMPR&>(viewport->Tool(ToolType::Mpr)); }
    // Runs the loop until the build has ended.
    void Pump() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while ((Mpr().Building() || !engine->Idle()) &&
               std::chrono::steady_clock::now() < deadline) {
            loop.RunPending();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        loop.RunPending();
    }
    std::set<std::string> ShownSeries() const {
        std::set<std::string> uids;
        for (size_t i = 0; i < viewport->ImageCount(); ++i)
            uids.insert(viewport->ImageAt(i)->File().String(0x0020000E));
        return uids;
    }
};

TEST_F(ViewportMpr, SwitchesPlanesAndComesBackToTheFirstImages) {
    Start(GeometryCase::kAxial);
    std::vector<CDicomImage*> first;
    for (size_t i = 0; i < viewport->ImageCount(); ++i)
        first.push_back(viewport->ImageAt(i));
    ASSERT_EQ(first.size(), 67u);

    EXPECT_NE(Mpr().SetPlane(kPlaneCoronal), 0u);
    EXPECT_EQ(tasks.ActiveCount(), 1u);
    Pump();
    EXPECT_EQ(tasks.ActiveCount(), 0u);
    EXPECT_EQ(viewport->ImageCount(), 84u);  // one per source row
    EXPECT_EQ(ShownSeries().size(), 1u);
    EXPECT_EQ(Mpr().CurrentPlane(), kPlaneCoronal);
    EXPECT_EQ(Mpr().SetPlane(kPlaneCoronal), 0u);  // already shown

    // Twice in quick succession: only the second build's slices stay.
    EXPECT_NE(Mpr().SetPlane(kPlaneSagittalRight), 0u);
    EXPECT_NE(Mpr().SetPlane(kPlaneCoronal), 0u);
    Pump();
    EXPECT_EQ(viewport->ImageCount(), 84u);
    EXPECT_EQ(ShownSeries().size(), 1u);
    EXPECT_TRUE(errors.empty());

    // Back to the axial images, without a build; the made slices are gone.
    const size_t registered = memory.Manager().RegisteredCount();
    EXPECT_EQ(Mpr().SetPlane(kPlaneAxialFeet), 0u);
    EXPECT_FALSE(Mpr().Building());
    ASSERT_EQ(viewport->ImageCount(), first.size());
    for (size_t i = 0; i < first.size(); ++i)
        EXPECT_EQ(viewport->ImageAt(i), first[i]);
    EXPECT_EQ(memory.Manager().RegisteredCount(), registered - 84);
}

TEST_F(ViewportMpr, ClearingDuringTheBuildStopsItWithinAnImage) {
    std::atomic<int> staged{0};
    std::atomic<bool> cleared{false};
    std::atomic<int> stagedAfterClear{0};
    engineServices.beforeSourceImage = [&](size_t) {
        if (cleared) ++stagedAfterClear;
        if (++staged == 1) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    };
    Start(GeometryCase::kAxial);
    ASSERT_NE(Mpr().SetPlane(kPlaneSagittalRight), 0u);
    while (staged == 0)
        std::this_thread::yield();
    viewport->Clear(true);
    cleared = true;
    memory.Manager().ReleaseMemoryNow();
    Pump();
    EXPECT_LE(stagedAfterClear.load(), 2);  // one per pool thread at most
    EXPECT_EQ(viewport->ImageCount(), 0u);
    EXPECT_EQ(tasks.ActiveCount(), 0u);
    EXPECT_EQ(Mpr().InitialPlane(), 0);
}

// A middle image whose JPEG stream ends before its scan: it is listed, but cannot be decoded.
void SpoilMiddleImage(const fs::path& dir) {
    const fs::path path = dir / "IM0034.dcm", jpeg = dir / "IM0034.jpeg";
    int code = -1;
    test::RunCommand("dcmcjpeg --encode-lossless-sv1 " + path.string() + " " + jpeg.string(),
                     &code);
    ASSERT_EQ(code, 0);
    std::vector<uint8_t> bytes = test::ReadFileBytes(jpeg);
    size_t scan = 0;
    while (scan + 1 < bytes.size() && !(bytes[scan] == 0xFF && bytes[scan + 1] == 0xDA))
        ++scan;
    ASSERT_LT(scan + 1, bytes.size());
    bytes[scan + 1] = 0xD9;
    fs::remove(jpeg);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

TEST_F(ViewportMpr, AFailedBuildSaysSoAndBringsTheImagesBack) {
    std::atomic<int> allocations{0};
    engineServices.allocate = [&](size_t bytes) {
        return ++allocations == 3 ? nullptr : CheckedAlloc(bytes);
    };
    Start(GeometryCase::kAxial);
    ASSERT_NE(Mpr().SetPlane(kPlaneCoronal), 0u);
    Pump();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "The MPR series could not be created: not enough memory");
    EXPECT_EQ(viewport->ImageCount(), 67u);
    EXPECT_EQ(Mpr().CurrentPlane(), kPlaneAxialFeet);
    EXPECT_EQ(tasks.ActiveCount(), 0u);

    if (!test::HaveProgram("dcmcjpeg")) GTEST_SKIP() << "dcmcjpeg is not installed";
    TearDown();
    engineServices.allocate = {};
    Start(GeometryCase::kAxial, SpoilMiddleImage);
    ASSERT_EQ(viewport->ImageCount(), 67u);
    ASSERT_NE(Mpr().SetPlane(kPlaneSagittalRight), 0u);
    Pump();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[1], "The MPR series could not be created: image 34 could not be decoded");
    EXPECT_EQ(viewport->ImageCount(), 67u);
}

TEST_F(ViewportMpr, GapsAndTiltAreNamedOnThePanel) {
    Start(GeometryCase::kGaps);
    ASSERT_NE(Mpr().SetPlane(kPlaneCoronal), 0u);
    Pump();
    EXPECT_EQ(Mpr().Warning(), "Gap of 6.0 mm in the stack: 54 of 64 images");
    Mpr().SetPlane(kPlaneAxialFeet);
    EXPECT_EQ(Mpr().Warning(), "");

    viewport->Clear(true);
    Start(GeometryCase::kTilted);
    ASSERT_NE(Mpr().SetPlane(kPlaneSagittalRight), 0u);
    Pump();
    EXPECT_EQ(Mpr().Warning(), "Gantry tilt of 18.5 degrees: interpolated");
}

}  // namespace
}  // namespace vexel
