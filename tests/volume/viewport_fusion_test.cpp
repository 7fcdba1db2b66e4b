// Fusion on two on-screen viewports of the phantom study: the PET's hot ball must be drawn
// over the CT's ball (within one CT pixel) through the whole pipeline, the base rotated and
// mirrored; fusion ends when the overlay is cleared, and never starts across frames of
// reference.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/test_paths.h"
#include "engine/memory_services.h"
#include "engine/volume_manager.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "phantom/phantom_writer.h"
#include "platform/memory_load.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_window_tool.h"
#include "viewer/window_preset.h"
#include "volume/fusion_engine.h"
#include "volume/plane_geometry.h"
#include "volume/viewport_fusion.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

class CNullWindow final : public IViewportWindow {
public:
    void PresentSurface(const CViewportSurface&, const PixelRect*) override {}
};

class ViewportFusion : public ::testing::Test {
protected:
    CSystemMemoryLoad load;
    CMemoryServices memory{load};
    CVolumeManager volumes{nullptr, {}};
    CFusionEngine engine{nullptr, &volumes};
    CSeriesStateStore states;
    CWindowPresetTable presets;
    CNullWindow window;

    std::unique_ptr<CViewport2D> Open(const fs::path& dir) {
        ViewportServices services;
        services.states = &states;
        services.presets = &presets;
        services.volumes = &volumes;
        services.layerMask = kLayerFusion;
        services.fusionTool = [this](CViewport2D& v) {
            return std::make_unique<CViewport2DFusion>(v, FusionServices{&engine, &volumes, {}});
        };
        auto viewport = std::make_unique<CViewport2D>(services);
        viewport->Create(window);
        viewport->SizeChanged(300, 300);
        for (const auto& entry : fs::directory_iterator(dir)) {
            auto [file, status] = memory.Manager().Open(entry.path());
            if (CDicomImage* image = file ? CDicomImage::Of(*file) : nullptr)
                viewport->AddImage(std::move(file), *image, 0);
        }
        viewport->MergePendingImages();
        return viewport;
    }
    // CT 128 x 128 x 160 of 1.6 mm pixels and 1.25 mm slices, PET at half the matrix.
    static fs::path Study(const std::string& name, const std::string& uidRoot) {
        phantom::PhantomOptions options;
        options.columns = options.rows = 128;
        options.pixelSpacingMm = 1.6;
        if (!uidRoot.empty()) options.uidRoot = uidRoot;
        const fs::path dir = test::ScratchDir(name);
        EXPECT_TRUE(phantom::WriteCtSeries(dir / "CT", options, nullptr));
        EXPECT_TRUE(phantom::WritePetSeries(dir / "PT", options, nullptr));
        return dir;
    }
};

// Red where the PET is hot, away from the colour bar at the left edge.
bool Hot(uint32_t pixel) {
    const int r = pixel >> 16 & 0xFF, g = pixel >> 8 & 0xFF, b = pixel & 0xFF;
    return r > g + 60 && r > b + 60;
}

TEST_F(ViewportFusion, TheHotBallLiesOnTheCtBall) {
    const fs::path study = Study("fusion-study", {});
    auto ct = Open(study / "CT");
    auto pet = Open(study / "PT");
    ASSERT_GT(ct->ImageCount(), 0u);
    EXPECT_EQ(engine.Start(*ct), "");
    EXPECT_TRUE(engine.IsFused(ct->Id()));

    // The slices through the ball's centre at (40, 0, 0), the CT turned and mirrored.
    const auto showCentre = [](CViewport2D& viewport) {
        size_t through = 0;
        for (size_t i = 0; i < viewport.ImageCount(); ++i)
            if (std::fabs((*viewport.ImageAt(i)->Frame(0)->Position())[2]) <
                std::fabs((*viewport.ImageAt(through)->Frame(0)->Position())[2]))
                through = i;
        viewport.ShowImage(through, false, true);
    };
    showCentre(*ct);
    showCentre(*pet);
    ct->Transform(90, false, true, false);
    // The PET window from 0 to half its largest value: the ball saturates in red, the
    // background stays green.
    float centre = 0, width = 0;
    ASSERT_TRUE(pet->CurrentFrame()->ComputeValueRange(centre, width));
    pet->WindowTool().ApplyWindow((centre + width / 2) / 4, (centre + width / 2) / 2);
    ct->RenderComposePresent();

    const CViewportSurface& surface = ct->Surface();
    double sx = 0, sy = 0, count = 0;
    for (int32_t y = 0; y < surface.Height(); ++y)
        for (int32_t x = 40; x < surface.Width(); ++x)
            if (Hot(surface.Pixels()[size_t(y) * size_t(surface.Width()) + size_t(x)])) {
                sx += x + 0.5;
                sy += y + 0.5;
                ++count;
            }
    ASSERT_GT(count, 0);
    const auto seen = ct->ScreenToImage(float(sx / count), float(sy / count));
    ASSERT_TRUE(seen);
    const PlaneGeometry plane = *PlaneOf(*ct->CurrentFrame());
    // The ball's centre in the CT's image coordinates (pixel centres at +0.5).
    const double column = (40 - plane.position[0]) / plane.columnSpacing + 0.5;
    const double row = (0 - plane.position[1]) / plane.rowSpacing + 0.5;
    EXPECT_NEAR(seen->x, column, 1.0);
    EXPECT_NEAR(seen->y, row, 1.0);

    // An ellipse over the ball reads the PET's hot SUV (4 in the phantom), one 30 mm further
    // along the row only the background (1).
    auto& fusion = dynamic_cast<CViewport2DFusion&>(ct->Tool(ToolType::None));
    const auto suvUnder = [&](double c, double r) {
        EllipseStatistics stats;
        SuvInfo suv;
        const double half = 5 / plane.columnSpacing;  // 10 mm across
        EXPECT_TRUE(fusion.OverlayStatistics(*ct->CurrentFrame(), float(c - half), float(r - half),
                                             float(c + half), float(r + half), &stats, &suv));
        EXPECT_EQ(suv.state, SuvState::Suv);
        return stats.maximum * suv.factor;
    };
    EXPECT_NEAR(suvUnder(column, row), 4.0, 0.05);
    EXPECT_NEAR(suvUnder(column - 30 / plane.columnSpacing, row), 1.0, 0.05);

    // Clearing the overlay ends the fusion; nothing hot is drawn any more.
    pet->Clear(true);
    engine.ViewportCleared(pet->Id());
    EXPECT_FALSE(engine.IsFused(ct->Id()));
    EXPECT_TRUE(dynamic_cast<CViewport2DFusion&>(ct->Tool(ToolType::None)).OverlayViewport() == 0);
}

TEST_F(ViewportFusion, NeverAcrossFramesOfReference) {
    auto ct = Open(Study("fusion-ct", {}) / "CT");
    auto pet = Open(Study("fusion-other", "2.25.1234") / "PT");
    EXPECT_NE(engine.Start(*ct), "");
    EXPECT_FALSE(engine.IsFused(ct->Id()));
}

}  // namespace
}  // namespace vexel
