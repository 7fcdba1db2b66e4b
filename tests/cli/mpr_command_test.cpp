// vexel mpr's report on a phantom CT whose geometry the writer's options fix, and on a
// real-world MR study whose series mix orientations (localizers in three planes, radial
// slices), so that none forms a volume; option refusals.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "common/flat_json.h"
#include "common/test_paths.h"
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
        {Quote(dir), 2},                                 // no plane
        {Quote(dir) + " --plane oblique", 2},            // not a plane we reformat to
        {Quote(dir) + " --plane axial --series -1", 2},  // negative
        {Quote(dir) + " --plane axial --series 1", 1},   // one series only
        {"--plane axial", 2},                            // no path
        {Quote(dir / "none") + " --plane axial", 1},     // nothing found
    };
    for (const auto& c : cases) {
        int code = -1;
        test::RunCommand(Vexel() + " mpr " + c.arguments + " 2>/dev/null", &code);
        EXPECT_EQ(code, c.code) << c.arguments;
    }
}

}  // namespace
}  // namespace vexel
