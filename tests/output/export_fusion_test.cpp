// Export of a fused view: the plan carries the overlay frame and window the panel shows, and
// the export's own viewport draws the PET's hot ball where the panel does, over the CT's ball.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>

#include "common/test_paths.h"
#include "engine/memory_services.h"
#include "engine/study_model.h"
#include "engine/volume_manager.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "output/export_plan.h"
#include "output/export_renderer.h"
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

TEST(ExportFusion, TheExportDrawsTheFusedViewOfThePanel) {
    phantom::PhantomOptions options;
    options.columns = options.rows = 128;
    options.pixelSpacingMm = 1.6;
    const fs::path study = test::ScratchDir("export-fusion");
    ASSERT_TRUE(phantom::WriteCtSeries(study / "CT", options, nullptr));
    ASSERT_TRUE(phantom::WritePetSeries(study / "PT", options, nullptr));

    CSystemMemoryLoad load;
    CMemoryServices memory{load};
    CVolumeManager volumes{nullptr, {}};
    CFusionEngine engine{nullptr, &volumes};
    CSeriesStateStore states;
    CWindowPresetTable presets;
    CNullWindow window;
    const auto open = [&](const fs::path& dir) {
        ViewportServices services;
        services.states = &states;
        services.presets = &presets;
        services.volumes = &volumes;
        services.fusionTool = [&](CViewport2D& v) {
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
        // The slice through the hot ball's centre (z = 0).
        size_t through = 0;
        for (size_t i = 0; i < viewport->ImageCount(); ++i)
            if (std::fabs((*viewport->ImageAt(i)->Frame(0)->Position())[2]) <
                std::fabs((*viewport->ImageAt(through)->Frame(0)->Position())[2]))
                through = i;
        viewport->ShowImage(through, false, true);
        return viewport;
    };
    auto ct = open(study / "CT");
    auto pet = open(study / "PT");
    float centre = 0, width = 0;
    ASSERT_TRUE(pet->CurrentFrame()->ComputeValueRange(centre, width));
    pet->WindowTool().ApplyWindow((centre + width / 2) / 4, (centre + width / 2) / 2);
    ASSERT_EQ(engine.Start(*ct), "");

    ExportSettings settings;
    settings.format = ExportFormat::Bmp;
    settings.annotations = AnnotationMode::None;
    settings.folder = study / "out";
    StudyModel model;
    const ExportPlan plan = PlanExport(settings, {0, ct.get()}, model, memory.Manager());
    ASSERT_EQ(plan.items.size(), 1u);
    ASSERT_TRUE(plan.items[0].fused);

    CExportRenderer renderer(memory.Manager(), presets, {}, &states);
    std::string reason;
    const CViewportSurface* picture = renderer.Render(plan.items[0], &reason);
    ASSERT_NE(picture, nullptr) << reason;
    // Default size: one picture pixel per CT pixel. The ball's centre is at (40, 0, 0).
    double sx = 0, sy = 0, count = 0;
    for (int32_t y = 0; y < picture->Height(); ++y)
        for (int32_t x = 0; x < picture->Width(); ++x) {
            const uint32_t c = picture->Pixels()[size_t(y) * size_t(picture->Width()) + size_t(x)];
            const int r = c >> 16 & 0xFF, g = c >> 8 & 0xFF, b = c & 0xFF;
            if (x >= 40 && r > g + 60 && r > b + 60) {
                sx += x + 0.5;
                sy += y + 0.5;
                ++count;
            }
        }
    ASSERT_GT(count, 0);
    const PlaneGeometry plane = *PlaneOf(*ct->CurrentFrame());
    EXPECT_NEAR(sx / count, (40 - plane.position[0]) / plane.columnSpacing + 0.5, 1.0);
    EXPECT_NEAR(sy / count, (0 - plane.position[1]) / plane.rowSpacing + 0.5, 1.0);
}

}  // namespace
}  // namespace vexel
