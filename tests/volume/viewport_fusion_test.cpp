// Fusion on two on-screen viewports of the phantom study: the PET's hot ball must be drawn
// over the CT's ball (within one CT pixel) through the whole pipeline, the base rotated and
// mirrored; fusion ends when the overlay is cleared, and never starts across frames of
// reference.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "common/fusion_rig.h"
#include "viewer/viewport_window_tool.h"
#include "volume/plane_geometry.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

class ViewportFusion : public ::testing::Test, protected test::FusionRig {};

TEST_F(ViewportFusion, TheHotBallLiesOnTheCtBall) {
    const fs::path study = Study("fusion-study");
    auto ct = Open(study / "CT");
    auto pet = Open(study / "PT");
    ASSERT_GT(ct->ImageCount(), 0u);
    EXPECT_EQ(engine.Start(*ct), "");
    EXPECT_TRUE(engine.IsFused(ct->Id()));

    // The slices through the ball's centre at (40, 0, 0), the CT turned and mirrored.
    ShowCentre(*ct);
    ShowCentre(*pet);
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
            if (test::HotPixel(surface.Pixels()[size_t(y) * size_t(surface.Width()) + size_t(x)])) {
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
    auto ct = Open(Study("fusion-ct") / "CT");
    auto pet = Open(Study("fusion-other", "2.25.1234") / "PT");
    EXPECT_NE(engine.Start(*ct), "");
    EXPECT_FALSE(engine.IsFused(ct->Id()));
}

}  // namespace
}  // namespace vexel
