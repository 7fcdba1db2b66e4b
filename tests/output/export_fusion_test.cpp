// Export of a fused view: the plan carries the overlay frame and window the panel shows, and
// the export's own viewport draws the PET's hot ball where the panel does, over the CT's ball.
#include <gtest/gtest.h>

#include "common/fusion_rig.h"
#include "engine/study_model.h"
#include "output/export_plan.h"
#include "output/export_renderer.h"
#include "viewer/viewport_window_tool.h"
#include "volume/plane_geometry.h"

namespace vexel {
namespace {

TEST(ExportFusion, TheExportDrawsTheFusedViewOfThePanel) {
    test::FusionRig rig;
    const std::filesystem::path study = rig.Study("export-fusion");
    auto ct = rig.Open(study / "CT");
    auto pet = rig.Open(study / "PT");
    rig.ShowCentre(*ct);
    rig.ShowCentre(*pet);
    float centre = 0, width = 0;
    ASSERT_TRUE(pet->CurrentFrame()->ComputeValueRange(centre, width));
    pet->WindowTool().ApplyWindow((centre + width / 2) / 4, (centre + width / 2) / 2);
    ASSERT_EQ(rig.engine.Start(*ct), "");

    ExportSettings settings;
    settings.format = ExportFormat::Bmp;
    settings.annotations = AnnotationMode::None;
    settings.folder = study / "out";
    StudyModel model;
    const ExportPlan plan = PlanExport(settings, {0, ct.get()}, model, rig.memory.Manager());
    ASSERT_EQ(plan.items.size(), 1u);
    ASSERT_TRUE(plan.items[0].fused);

    CExportRenderer renderer(rig.memory.Manager(), rig.presets, {}, &rig.states);
    std::string reason;
    const CViewportSurface* picture = renderer.Render(plan.items[0], &reason);
    ASSERT_NE(picture, nullptr) << reason;
    // Default size: one picture pixel per CT pixel. The ball's centre is at (40, 0, 0).
    double sx = 0, sy = 0, count = 0;
    for (int32_t y = 0; y < picture->Height(); ++y)
        for (int32_t x = 0; x < picture->Width(); ++x) {
            const uint32_t c = picture->Pixels()[size_t(y) * size_t(picture->Width()) + size_t(x)];
            if (x >= 40 && test::HotPixel(c)) {
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
