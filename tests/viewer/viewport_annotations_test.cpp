// The annotation layer: where the corner blocks sit, the pixel readout under the mouse for
// every rotation and mirror, its partial redraw, the texts a frame gives, browsing through
// the frames of multi-frame images; the texts against hand-worked cases (edge letters for
// every rotation and mirror, the slice and C-arm line, dates, ages, window and transform
// lines); scale rulers (lengths and ticks counted in the composed pixels, the spacing axis at
// quarter turns, and spacings that measure nothing).
#include <gtest/gtest.h>

#include <clocale>

#include "imaging/dicom_frame.h"
#include "platform/canvas.h"
#include "platform/gui/surface_canvas.h"
#include "viewer/annotation_texts.h"
#include "viewer/overlay_annotation.h"
#include "viewer/viewport_annotations.h"
#include "viewer/viewport_view_tools.h"
#include "viewer_test_support.h"

namespace vexel {
namespace {

using test::HandImage;
using test::OpenedImage;
using test::OpenHandImage;
using test::ViewportRig;

// Every character 7 pixels wide, lines 14 pixels high.
class CFixedMetricsCanvas final : public ICanvas {
public:
    void SetClip(const CanvasRect*) override {}
    void DrawLine(int32_t, int32_t, int32_t, int32_t, uint32_t) override {}
    void DrawPolyline(std::span<const CanvasPoint>, uint32_t, float, bool) override {}
    void DrawEllipse(CanvasPoint, float, float, uint32_t, float, bool) override {}
    void FillRect(const CanvasRect&, uint32_t) override {}
    bool SetFont(int32_t) override { return true; }
    CanvasSize MeasureText(std::string_view text) override {
        return {int32_t(text.size()) * 7, 14};
    }
    void DrawText(std::string_view, const CanvasRect&, TextAlign, uint32_t) override {}
};

std::string Shown(CViewport2D& viewport, const std::string& place) {
    std::string lines;
    for (const ShownAnnotation& shown : viewport.Annotations().ShownTexts()) {
        if (shown.place == place) lines += (lines.empty() ? "" : "|") + shown.text;
    }
    return lines;
}

TEST(ViewportAnnotations, BlocksSitAtTheirCornerAndLine) {
    ViewportRig rig(212, 200);
    CViewport2D& viewport = *rig.viewport;
    const int32_t w = viewport.Surface().Width();
    ASSERT_EQ(viewport.FontSize(), 10);  // line height 10
    const std::string text = "abc";      // 22 x 15 with the added pixel
    struct Case {
        Corner corner;
        int32_t line;
        PixelRect expected;
    };
    // top = line x 10 + (10 - 15) / 2 + 5; bottom corners end 5 pixels above the edge.
    for (const Case& c :
         {Case{Corner::TopLeft, 0, {5, 3, 22, 15}}, Case{Corner::TopLeft, 2, {5, 23, 22, 15}},
          Case{Corner::TopRight, 1, {w - 27, 13, 22, 15}},
          Case{Corner::BottomLeft, 0, {5, 180, 22, 15}},
          Case{Corner::BottomRight, 2, {w - 27, 160, 22, 15}}}) {
        COverlayAnnotation block(viewport, text, kLightRed, c.corner, c.line);
        CFixedMetricsCanvas canvas;
        block.Measure(canvas);
        EXPECT_EQ(block.Rect(), c.expected) << int(c.corner) << " line " << c.line;
    }
}

OpenedImage GradientImage(const std::string& name, std::vector<HandImage::Extra> extra = {},
                          int frames = 1, std::string photometric = "MONOCHROME2") {
    HandImage wanted;
    wanted.rows = 3;
    wanted.columns = 5;
    for (int i = 0; i < 15; ++i)
        wanted.pixels.push_back(100 + i * 7);
    wanted.windowCenter = "120";
    wanted.windowWidth = "200";
    wanted.frames = frames;
    wanted.photometric = std::move(photometric);
    wanted.extra = std::move(extra);
    return OpenHandImage(wanted, name);
}

TEST(ViewportAnnotations, ReadoutIsTheValueUnderTheMouseForEveryTransform) {
    ASSERT_TRUE(EnsureGuiApplication());
    const OpenedImage image = GradientImage("readout");
    struct Transform {
        int32_t rotate;
        bool flipV;
        bool flipH;
    };
    for (const Transform& t : {Transform{0, false, false}, Transform{90, false, false},
                               Transform{270, false, true}, Transform{0, true, false}}) {
        ViewportRig rig(212, 200);
        CViewport2D& viewport = *rig.viewport;
        ASSERT_TRUE(rig.Add(image));
        viewport.Transform(t.rotate, t.flipV, t.flipH, false);
        int checked = 0;
        for (int32_t y = 0; y < 200; y += 9) {
            for (int32_t x = 0; x < 200; x += 11) {
                const int before = rig.window.wholePresents;
                viewport.MouseMove(x, y);
                EXPECT_EQ(rig.window.wholePresents, before) << "only the readout is redrawn";
                const auto p = viewport.ScreenToImage(float(x), float(y));
                std::string expected;
                if (p && p->x >= 0 && p->y >= 0 && p->x < 5 && p->y < 3) {
                    const int px = int(p->x), py = int(p->y);
                    expected = "X: " + std::to_string(px) + " Y: " + std::to_string(py) +
                               " Val: " + viewport.CurrentFrame()->ValueText(px, py);
                    ++checked;
                }
                const std::string bottomLeft = Shown(viewport, "bottom-left");
                const std::string readout = bottomLeft.rfind('|') == std::string::npos
                                                ? std::string()
                                                : bottomLeft.substr(bottomLeft.rfind('|') + 1);
                EXPECT_EQ(readout.rfind("X: ", 0) == 0 ? readout : "", expected)
                    << "rotate " << t.rotate << " at " << x << "," << y;
            }
        }
        EXPECT_GT(checked, 20);
        viewport.MouseMove(100, 100);
        viewport.MouseLeft();
        EXPECT_EQ(Shown(viewport, "bottom-left").find("X: "), std::string::npos);
    }
}

TEST(ViewportAnnotations, DateAndTimeComeFromOneLevelAndTheAgeNeedsADate) {
    std::setlocale(LC_TIME, "C");
    // Content date without a content time: the acquisition time belongs to another event.
    const OpenedImage image = GradientImage("dates", {{0x00080022, "DA", "20200101"},
                                                      {0x00080023, "DA", "20210315"},
                                                      {0x00080032, "TM", "101010"},
                                                      {0x00100030, "DA", "19800316"}});
    ViewportRig rig(212, 200);
    ASSERT_TRUE(rig.Add(image));
    EXPECT_EQ(Shown(*rig.viewport, "bottom-right"), "03/15/21");
    EXPECT_EQ(rig.viewport->Annotations().Age(), 40);

    const OpenedImage undated = GradientImage("undated", {{0x00100030, "DA", "19800316"}});
    ViewportRig other(212, 200);
    ASSERT_TRUE(other.Add(undated));
    EXPECT_EQ(other.viewport->Annotations().Age(), std::nullopt);
}

TEST(ViewportAnnotations, BasicModeLeavesOutPatientRowsAndTheWindowLineNamesPresetAndNegative) {
    const OpenedImage image = GradientImage("modes",
                                            {{0x00080080, "LO", "General Hospital"},
                                             {0x00100010, "PN", "Doe^Jane"},
                                             {0x00100020, "LO", "ID42"},
                                             {0x00180087, "DS", "1.5"},
                                             {0x00204000, "LT", "Mrs Doe, record 1234"},
                                             {0x00324000, "LT", "called by Dr Who"}},
                                            1, "MONOCHROME1");
    ViewportRig rig(212, 200);
    ASSERT_TRUE(rig.Add(image));
    CViewport2D& viewport = *rig.viewport;
    EXPECT_EQ(Shown(viewport, "top-right"),
              "Doe^Jane|ID42|General Hospital|Mrs Doe, record 1234|called by Dr Who");
    EXPECT_EQ(Shown(viewport, "bottom-right"), "FS: 1.5 T");
    // A negative MONOCHROME1 image with a preset names both.
    viewport.SelectPreset(4);
    viewport.SetNegative(true);
    EXPECT_NE(Shown(viewport, "bottom-left").find("WL: 300 WW: 1500 [CT Bone] N"),
              std::string::npos);
    viewport.Annotations().SetMode(AnnotationMode::Basic);
    EXPECT_EQ(Shown(viewport, "top-right"), "General Hospital");
    viewport.Annotations().SetMode(AnnotationMode::None);
    EXPECT_TRUE(viewport.Annotations().ShownTexts().empty());
}

// A viewport lists a multi-frame file as a series of its own (the study model's rule), so
// browsing meets frames of one image here; the image line counts both.
TEST(ViewportAnnotations, BrowsingStepsThroughFramesAndTheImageLineShowsThem) {
    const OpenedImage image = GradientImage("frames", {}, 4);
    ViewportRig rig(212, 200);
    ASSERT_TRUE(rig.Add(image));
    CViewport2D& viewport = *rig.viewport;
    EXPECT_EQ(viewport.BrowseCount(), 4u);
    struct Step {
        const char* action;
        int32_t amount;
        size_t frame;
        const char* line;
    };
    for (const Step& s :
         {Step{"key", 1, 1, "Im: 1/1 Fr: 2/4"}, Step{"wheel", 120, 0, "Im: 1/1 Fr: 1/4"},
          Step{"key", -1, 3, "Im: 1/1 Fr: 4/4"}, Step{"scroll", 2, 2, "Im: 1/1 Fr: 3/4"},
          Step{"drag", 4, 0, "Im: 1/1 Fr: 1/4"}}) {
        if (std::string(s.action) == "key") viewport.Browse(s.amount);
        if (std::string(s.action) == "wheel") viewport.MouseWheel(s.amount);
        if (std::string(s.action) == "scroll") viewport.ScrolledTo(s.amount);
        if (std::string(s.action) == "drag") {
            viewport.SetLeftTool(viewport.BrowseTool());
            viewport.MouseDown(50, 50, MouseButton::Left);
            viewport.MouseMove(50, 50 + s.amount);
            viewport.MouseUp(50, 50 + s.amount, MouseButton::Left);
        }
        EXPECT_EQ(viewport.CurrentFrameIndex(), s.frame) << s.action << " " << s.amount;
        EXPECT_EQ(Shown(viewport, "top-left").substr(0, std::string(s.line).size()), s.line);
    }
}

const OrientationLetters kLetters{"L", "R", "S", "I", "A", "P"};

struct OrientationCase {
    const char* name;
    std::array<float, 6> orientation;
    DisplayTransform transform;
    const char* edges;  // left, right, top and bottom labels, blank-separated
    uint32_t sliceAxis;
};

constexpr std::array<float, 6> kAxial{1, 0, 0, 0, 1, 0};
constexpr DisplayTransform kPlain{0, false, false};

class OrientationLabelsTest : public ::testing::TestWithParam<OrientationCase> {};

TEST_P(OrientationLabelsTest, EdgesShowWhereThePatientIs) {
    const OrientationCase& c = GetParam();
    const EdgeLabels labels = OrientationLabels(c.orientation, c.transform, kLetters);
    EXPECT_EQ(labels.left + " " + labels.right + " " + labels.top + " " + labels.bottom, c.edges);
    EXPECT_EQ(labels.sliceAxis, c.sliceAxis);
}

// Worked by turning a printed axial slice by hand: the image's right edge is the patient's
// left, its bottom edge the patient's back.
INSTANTIATE_TEST_SUITE_P(
    Annotations, OrientationLabelsTest,
    ::testing::Values(
        OrientationCase{"axial", kAxial, kPlain, "R L A P", 2},
        OrientationCase{"rotate90", kAxial, {90, false, false}, "P A R L", 2},
        OrientationCase{"rotate270", kAxial, {270, false, false}, "A P L R", 2},
        OrientationCase{"mirrorH", kAxial, {0, true, false}, "L R A P", 2},
        OrientationCase{"mirrorH90", kAxial, {90, true, false}, "P A L R", 2},
        OrientationCase{"mirrorV", kAxial, {0, false, true}, "R L P A", 2},
        OrientationCase{"sagittal", {0, 1, 0, 0, 0, -1}, kPlain, "A P S I", 0},
        OrientationCase{"coronal", {1, 0, 0, 0, 0, -1}, kPlain, "R L S I", 1},
        // 0.38 lies below sin 22.5 degrees, 0.4 above it.
        OrientationCase{"below", {0.92f, 0.38f, 0, 0, 0.38f, -0.92f}, kPlain, "R L S I", 1},
        OrientationCase{"above", {0.9f, 0.4f, 0, 0, 0.4f, -0.9f}, kPlain, "RA LP SA IP", 1},
        OrientationCase{
            "aboveNegative", {0.9f, -0.4f, 0, 0, -0.4f, -0.9f}, kPlain, "RP LA SP IA", 1},
        OrientationCase{"threeAxes", {0.6f, 0.5f, 0.62f, 0, 0, 0}, kPlain, "IRA SLP  ", 1}),
    [](const auto& p) { return std::string(p.param.name); });

struct SliceCase {
    const char* name;
    std::optional<std::array<float, 3>> position;
    std::optional<float> thickness;
    std::optional<CArmAngles> angles;
    const char* expected;
};

class SliceLineTest : public ::testing::TestWithParam<SliceCase> {};

TEST_P(SliceLineTest, ThicknessLocationAndCArm) {
    const SliceCase& c = GetParam();
    EXPECT_EQ(SliceLine({}, c.position, c.thickness, 2, c.angles), c.expected);
}

using Where = std::array<float, 3>;
constexpr std::nullopt_t kNone = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Annotations, SliceLineTest,
    ::testing::Values(SliceCase{"nothing", kNone, kNone, kNone, ""},
                      SliceCase{"location", Where{1, 2, -75.66f}, kNone, kNone, "L: -75.7mm"},
                      SliceCase{"thickness", Where{1, 2, 3}, 5.0f, kNone, "T: 5.0mm L: 3.0mm"},
                      SliceCase{"thicknessNoPosition", kNone, 5.0f, kNone, ""},
                      SliceCase{"lao", kNone, kNone, CArmAngles{30.4f, -0.2f}, "LAO: 30 "},
                      SliceCase{"ap", Where{1, 2, 3}, 5.0f, CArmAngles{-0.4f, 0.3f}, "AP"},
                      // The number printed is the rounded one that chose the side.
                      SliceCase{"halfDegree", kNone, kNone, CArmAngles{0.5f, 0}, "LAO: 1 "},
                      SliceCase{"halfCaudal", kNone, kNone, CArmAngles{0.2f, -24.5f}, "CAU: 25 "},
                      SliceCase{"raoCranial", kNone, kNone, CArmAngles{-20.6f, 15.2f},
                                "RAO: 21 CRA: 15 "},
                      SliceCase{"afterLocation", Where{0, 0, 10}, kNone, CArmAngles{10, 0},
                                "L: 10.0mm LAO: 10 "}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(AnnotationTexts, AgeCountsWholeYearsAndNeedsBothDates) {
    struct Case {
        const char* birth;
        const char* on;
        std::optional<int32_t> age;
    };
    for (const Case& c :
         {Case{"19800316", "20210315", 40}, Case{"19800316", "20210316", 41},
          Case{"1980.03.16", "20210401", 41}, Case{"", "20210315", std::nullopt},
          Case{"19800316", "", std::nullopt}, Case{"19801345", "20210315", std::nullopt},
          Case{"20300101", "20210315", std::nullopt}}) {
        EXPECT_EQ(AgeInYears(c.birth, c.on), c.age) << c.birth << " " << c.on;
    }
}

TEST(AnnotationTexts, DatesAndTimesInTheLocaleFormat) {
    std::setlocale(LC_TIME, "C");
    EXPECT_EQ(FormatDate("20210315"), "03/15/21");
    EXPECT_EQ(FormatTime("143005.123"), "14:30:05");
    EXPECT_EQ(FormatTime("1430"), "14:30:00");
    // Unreadable values are shown as written.
    EXPECT_EQ(FormatDate("2021-3"), "2021-3");
    EXPECT_EQ(FormatTime("99"), "99");
}

TEST(AnnotationTexts, WindowTransformAndImageLines) {
    EXPECT_EQ(WindowLine({}, 300, 1500, 4, "CT Bone", true), "WL: 300 WW: 1500 [CT Bone] N");
    EXPECT_EQ(WindowLine({}, 40, 400, -1, "", false), "WL: 40 WW: 400");
    EXPECT_EQ(TransformLine({}, {0, false, false}), "");
    EXPECT_EQ(TransformLine({}, {90, false, false}), "R: 90\u00b0 CW");
    EXPECT_EQ(TransformLine({}, {270, false, false}), "R: 90\u00b0 CCW");
    EXPECT_EQ(TransformLine({}, {180, false, false}), "R: 180\u00b0");
    EXPECT_EQ(TransformLine({}, {0, true, false}), "F: H");
    EXPECT_EQ(TransformLine({}, {90, false, true}), "R: 90\u00b0 CW F: V");
    EXPECT_EQ(ImageLine({}, 0, 3, 11, 30), "Im: 1/3 Fr: 12/30");
    EXPECT_EQ(ImageLine({}, 4, 12, 0, 1), "Im: 5/12");
}

TEST(AnnotationTexts, TranslatedFormatsWithOtherConversionsFallBackToEnglish) {
    const TextLookup hostile = [](uint32_t id) -> std::string {
        return id == textid::kImageNumber ? "%s %s %n" : "Bild %d von %d";
    };
    EXPECT_EQ(ImageLine(hostile, 0, 2, 0, 1), "Im: 1/2");
    EXPECT_EQ(MrLine(hostile, 400, 20), "TR: 400.0 TE: 20.0");
}

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
