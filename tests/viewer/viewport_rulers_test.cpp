// Scale rulers: lengths and ticks counted in the composed pixels, the spacing axis at quarter
// turns, and spacings that measure nothing.
#include <gtest/gtest.h>

#include "viewer/viewport_annotations.h"
#include "viewport_test_support.h"

namespace vexel {
namespace {

constexpr uint32_t kLine = 0xFF6464;
constexpr uint32_t kTick = 0xFF1E1E;

test::OpenedImage SpacedImage(const std::string& name, const std::string& spacing) {
    test::HandImage wanted;
    wanted.rows = 64;
    wanted.columns = 64;
    wanted.pixels.assign(64 * 64, 500);
    if (!spacing.empty()) wanted.extra = {{0x00280030, "DS", spacing}};
    return test::OpenHandImage(wanted, name);
}

// Pixels of `colour` along a row or a column of the surface.
std::vector<int32_t> PixelsOf(const CViewportSurface& surface, bool row, int32_t at,
                              uint32_t colour) {
    std::vector<int32_t> hits;
    const int32_t n = row ? surface.Width() : surface.Height();
    for (int32_t i = 0; i < n; ++i) {
        if ((row ? surface.At(i, at) : surface.At(at, i)) == colour) hits.push_back(i);
    }
    return hits;
}

// The ruler's pixels from first to last, all present.
int32_t Length(const std::vector<int32_t>& hits) {
    if (hits.empty()) return 0;
    EXPECT_EQ(int32_t(hits.size()), hits.back() - hits.front() + 1) << "gaps in the ruler";
    return hits.back() - hits.front() + 1;
}

struct RulerCase {
    const char* name;
    const char* spacing;  // rows \ columns
    int32_t rotate;
    int32_t horizontal;  // expected lengths at zoom 1, 0 for none
    int32_t vertical;
};

class RulersTest : public ::testing::TestWithParam<RulerCase> {};

TEST_P(RulersTest, HundredMillimetres) {
    const RulerCase& c = GetParam();
    const test::OpenedImage image = SpacedImage(c.name, c.spacing);
    test::ViewportRig rig(312, 300);
    CViewport2D& viewport = *rig.viewport;
    viewport.Annotations().SetMode(AnnotationMode::None);
    ASSERT_TRUE(rig.Add(image));
    if (c.rotate != 0) viewport.Transform(c.rotate, false, false, false);
    viewport.ActualSize();
    ASSERT_FLOAT_EQ(viewport.Geometry().zoom, 1.0f);
    const CViewportSurface& surface = viewport.Surface();
    const int32_t w = surface.Width(), h = surface.Height();
    EXPECT_EQ(Length(PixelsOf(surface, true, h - 3, kLine)), c.horizontal);
    EXPECT_EQ(Length(PixelsOf(surface, false, 3, kLine)), c.vertical);
    if (c.horizontal == 0) return;
    // Ticks every tenth, from 4 pixels above the edge; long ones (3 pixels) every fifth.
    const std::vector<int32_t> ticks = PixelsOf(surface, true, h - 4, kTick);
    ASSERT_EQ(ticks.size(), 11u);
    const std::vector<int32_t> longTicks = PixelsOf(surface, true, h - 6, kTick);
    EXPECT_EQ(longTicks, (std::vector<int32_t>{ticks[0], ticks[5], ticks[10]}));
    // Positions round by adding a half and cutting toward zero, so the left half sits one
    // pixel nearer the middle: -99, -79, ..., -19, 0, 20, ..., 100 for 200 pixels.
    const int32_t step = c.horizontal / 10;
    for (int32_t i = -5; i <= 5; ++i)
        EXPECT_EQ(ticks[size_t(i + 5)] - w / 2, i < 0 ? i * step + 1 : i * step) << "tick " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Annotations, RulersTest,
    ::testing::Values(RulerCase{"half", "0.5\\0.5", 0, 200, 200},
                      RulerCase{"wideColumns", "0.5\\1", 0, 100, 200},
                      // A quarter turn lays the rows along the screen's horizontal.
                      RulerCase{"turned", "0.5\\1", 90, 200, 100},
                      RulerCase{"turnedBack", "0.5\\1", 270, 200, 100},
                      RulerCase{"missing", "", 0, 0, 0}, RulerCase{"zero", "0\\0.5", 0, 0, 0},
                      RulerCase{"infinite", "inf\\1", 0, 0, 0},
                      RulerCase{"huge", "1001\\1", 0, 0, 0}, RulerCase{"oneValue", "0.5", 0, 0, 0}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace vexel
