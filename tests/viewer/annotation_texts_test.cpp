// The texts of the on-image annotations against hand-worked cases: which letters each edge
// shows for every rotation and mirror, the slice and C-arm line, dates, ages, window and
// transform lines.
#include <gtest/gtest.h>

#include <clocale>

#include "viewer/annotation_texts.h"

namespace vexel {
namespace {

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
        OrientationCase{"aboveNegative", {0.9f, -0.4f, 0, 0, -0.4f, -0.9f}, kPlain,
                        "RP LA SP IA", 1},
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

INSTANTIATE_TEST_SUITE_P(
    Annotations, SliceLineTest,
    ::testing::Values(
        SliceCase{"nothing", std::nullopt, std::nullopt, std::nullopt, ""},
        SliceCase{"location", std::array<float, 3>{1, 2, -75.66f}, std::nullopt, std::nullopt,
                  "L: -75.7mm"},
        SliceCase{"thickness", std::array<float, 3>{1, 2, 3}, 5.0f, std::nullopt,
                  "T: 5.0mm L: 3.0mm"},
        SliceCase{"thicknessNoPosition", std::nullopt, 5.0f, std::nullopt, ""},
        SliceCase{"lao", std::nullopt, std::nullopt, CArmAngles{30.4f, -0.2f}, "LAO: 30 "},
        SliceCase{"ap", std::array<float, 3>{1, 2, 3}, 5.0f, CArmAngles{-0.4f, 0.3f}, "AP"},
        // The number printed is the rounded one that chose the side.
        SliceCase{"halfDegree", std::nullopt, std::nullopt, CArmAngles{0.5f, 0}, "LAO: 1 "},
        SliceCase{"halfCaudal", std::nullopt, std::nullopt, CArmAngles{0.2f, -24.5f}, "CAU: 25 "},
        SliceCase{"raoCranial", std::nullopt, std::nullopt, CArmAngles{-20.6f, 15.2f},
                  "RAO: 21 CRA: 15 "},
        SliceCase{"afterLocation", std::array<float, 3>{0, 0, 10}, std::nullopt, CArmAngles{10, 0},
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

}  // namespace
}  // namespace vexel
