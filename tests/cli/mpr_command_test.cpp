// vexel mpr's report on a phantom CT whose geometry the writer's options fix, and on a
// real-world MR study whose series mix orientations (localizers in three planes, radial
// slices), so that none forms a volume; option refusals.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/flat_json.h"
#include "common/test_paths.h"
#include "phantom/geometry_series.h"
#include "phantom/phantom_writer.h"

namespace vexel {
namespace {

using test::Quote;
using test::Vexel;

std::map<std::string, std::string> RunJson(const std::string& arguments, int* code) {
    const std::string out = test::RunCommand(Vexel() + " mpr " + arguments + " --json", code);
    std::map<std::string, std::string> values;
    EXPECT_TRUE(test::JsonReader(out).Read(values)) << out;
    return values;
}

TEST(VexelMpr, ReportsThePhantomCtVolume) {
    phantom::PhantomOptions options;
    options.columns = options.rows = 32;
    options.slices = 6;
    options.sliceSpacingMm = 2.5;
    const auto dir = test::ScratchDir("cli-mpr") / "CT";
    ASSERT_TRUE(phantom::WriteCtSeries(dir, options, nullptr));
    int code = -1;
    const auto values = RunJson(Quote(dir) + " --plane coronal", &code);
    ASSERT_EQ(code, 0);
    const std::map<std::string, std::string> expected = {
        {"/volumes/0/series", "0"},
        {"/volumes/0/images", "6"},
        {"/volumes/0/planeKind", "1"},  // rows along +x, columns along +y: normal +z
        {"/volumes/0/plane", "axial"},
        {"/volumes/0/spacing/min", "2.5"},
        {"/volumes/0/spacing/median", "2.5"},
        {"/volumes/0/spacing/max", "2.5"},
        {"/volumes/0/tiltDegrees", "0"},
        {"/volumes/0/frameOfReferenceUid", options.uidRoot + ".3"},
    };
    for (const auto& [path, value] : expected) {
        const auto it = values.find(path);
        ASSERT_NE(it, values.end()) << path;
        EXPECT_EQ(it->second, value) << path;
    }
    EXPECT_EQ(values.count("/volumes/1/images"), 0u);
    EXPECT_EQ(values.count("/volumes/0/gaps/0/size"), 0u);
}

TEST(VexelMpr, FindsNoVolumeAmongMixedOrientations) {
    VEXEL_REQUIRE_TESTDATA();
    const auto study = test::TestDataDir() / "pydicom/test_files/dicomdirtests/98892003";
    if (!std::filesystem::exists(study)) GTEST_SKIP() << "not found: " << study;
    int code = -1;
    const std::string out =
        test::RunCommand(Vexel() + " mpr " + Quote(study) + " --plane axial --json", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, "{\"volumes\":[]}\n");
}

// --out: every slice's stored values and header, read back as a script would, must put a
// linear ramp (across the stack and across the image) at the values the phantom gives it.
TEST(VexelMpr, WritesSlicesWhoseHeadersPlaceTheRampRight) {
    phantom::GeometrySeriesOptions options =
        phantom::GeometryCaseOptions(phantom::GeometryCase::kAxial);
    options.content = {};
    options.content.ramp = phantom::LinearRamp{1, 40, 2.5};  // along y: across the slices
    const auto dir = test::ScratchDir("cli-mpr-out");
    ASSERT_TRUE(phantom::WriteGeometrySeries(dir / "in", options, nullptr));
    int code = -1;
    test::RunCommand(Vexel() + " mpr " + Quote(dir / "in") + " --plane sagittal --out " +
                         Quote(dir / "out") + " >/dev/null",
                     &code);
    ASSERT_EQ(code, 0);
    std::map<std::string, std::string> json;
    const std::vector<uint8_t> text = test::ReadFileBytes(dir / "out" / "slices.json");
    ASSERT_TRUE(test::JsonReader(std::string(text.begin(), text.end())).Read(json));
    size_t slices = 0, checked = 0;
    for (; json.count("/slices/" + std::to_string(slices) + "/file"); ++slices) {
        const std::string at = "/slices/" + std::to_string(slices) + "/";
        const auto number = [&](const std::string& key) { return std::stod(json.at(at + key)); };
        EXPECT_EQ(json.at(at + "signed"), "true");
        const std::vector<uint8_t> pgm = test::ReadFileBytes(dir / "out" / json.at(at + "file"));
        const int columns = int(number("columns")), rows = int(number("rows"));
        const std::string header =
            "P5\n" + std::to_string(columns) + " " + std::to_string(rows) + "\n65535\n";
        ASSERT_EQ(pgm.size(), header.size() + size_t(columns) * size_t(rows) * 2);
        for (int r = 1; r + 1 < rows;
             ++r)  // the stack's first and last samples are averaged over less
            for (int c = 0; c < columns; ++c) {
                const size_t i = header.size() + 2 * (size_t(r) * size_t(columns) + size_t(c));
                const double stored = double(int16_t(uint16_t(pgm[i] << 8 | pgm[i + 1])));
                phantom::Vec3 p;
                double* axes[3] = {&p.x, &p.y, &p.z};
                for (int k = 0; k < 3; ++k)
                    *axes[k] = number("imagePositionPatient/" + std::to_string(k)) +
                               c * number("pixelSpacing/1") *
                                   number("imageOrientationPatient/" + std::to_string(k)) +
                               r * number("pixelSpacing/0") *
                                   number("imageOrientationPatient/" + std::to_string(k + 3));
                ASSERT_NEAR(stored * number("rescaleSlope") + number("rescaleIntercept"),
                            phantom::GeometryValueAt(options, p), 1.0)
                    << json.at(at + "file") << " " << c << "," << r;
                ++checked;
            }
    }
    EXPECT_EQ(slices, 112u);  // one per source column
    EXPECT_GT(checked, 100000u);
}

TEST(VexelMpr, RefusesBadOptions) {
    const auto dir = test::ScratchDir("cli-mpr-refusals") / "CT";
    phantom::PhantomOptions options;
    options.columns = options.rows = 16;
    options.slices = 2;
    ASSERT_TRUE(phantom::WriteCtSeries(dir, options, nullptr));
    const struct {
        std::string arguments;
        int code;
    } cases[] = {
        {Quote(dir), 2},                                               // no plane
        {Quote(dir) + " --plane oblique", 2},                          // not a plane we reformat to
        {Quote(dir) + " --plane axial --series -1", 2},                // negative
        {Quote(dir) + " --plane axial --series 1", 1},                 // one series only
        {Quote(dir) + " --plane axial --out " + Quote(dir / "x"), 1},  // already axial
        {"--plane axial", 2},                                          // no path
        {Quote(dir / "none") + " --plane axial", 1},                   // nothing found
    };
    for (const auto& c : cases) {
        int code = -1;
        test::RunCommand(Vexel() + " mpr " + c.arguments + " 2>/dev/null", &code);
        EXPECT_EQ(code, c.code) << c.arguments;
    }
}

}  // namespace
}  // namespace vexel
