// The annotation layer of a viewport: where the corner blocks sit, the pixel readout under
// the mouse for every rotation and mirror, its partial redraw, the texts a frame gives, and
// browsing through the frames of several multi-frame images.
#include <gtest/gtest.h>

#include <clocale>

#include "imaging/dicom_frame.h"
#include "platform/canvas.h"
#include "platform/gui/surface_canvas.h"
#include "viewer/overlay_annotation.h"
#include "viewer/viewport_annotations.h"
#include "viewer/viewport_view_tools.h"
#include "viewport_test_support.h"

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

TEST(ViewportAnnotations, BasicModeLeavesOutPatientAndCommentRows) {
    const OpenedImage image = GradientImage("modes", {{0x00080080, "LO", "General Hospital"},
                                                      {0x00100010, "PN", "Doe^Jane"},
                                                      {0x00100020, "LO", "ID42"},
                                                      {0x00180087, "DS", "1.5"},
                                                      {0x00204000, "LT", "Mrs Doe, record 1234"},
                                                      {0x00324000, "LT", "called by Dr Who"}});
    ViewportRig rig(212, 200);
    ASSERT_TRUE(rig.Add(image));
    CViewport2D& viewport = *rig.viewport;
    EXPECT_EQ(Shown(viewport, "top-right"),
              "Doe^Jane|ID42|General Hospital|Mrs Doe, record 1234|called by Dr Who");
    EXPECT_EQ(Shown(viewport, "bottom-right"), "FS: 1.5 T");
    viewport.Annotations().SetMode(AnnotationMode::Basic);
    EXPECT_EQ(Shown(viewport, "top-right"), "General Hospital");
    viewport.Annotations().SetMode(AnnotationMode::None);
    EXPECT_TRUE(viewport.Annotations().ShownTexts().empty());
}

TEST(ViewportAnnotations, NegativeMonochrome1WithPresetNamesIt) {
    const OpenedImage image = GradientImage("mono1", {}, 1, "MONOCHROME1");
    ViewportRig rig(212, 200);
    ASSERT_TRUE(rig.Add(image));
    rig.viewport->SelectPreset(4);
    rig.viewport->SetNegative(true);
    EXPECT_NE(Shown(*rig.viewport, "bottom-left").find("WL: 300 WW: 1500 [CT Bone] N"),
              std::string::npos);
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

}  // namespace
}  // namespace vexel
