// vexel render --print-annotations on real files: the corner and edge texts against the
// values dcmdump shows for the same files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/test_paths.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

struct AnnotationCase {
    const char* name;
    const char* file;  // under pydicom/test_files
    const char* options;
    // Lines that must appear, and lines that must not, in the printed list.
    std::vector<std::string> present;
    std::vector<std::string> absent;
};

class RenderAnnotationsTest : public ::testing::TestWithParam<AnnotationCase> {};

TEST_P(RenderAnnotationsTest, PrintsTheTextsDrawn) {
    VEXEL_REQUIRE_TESTDATA();
    const AnnotationCase& c = GetParam();
    const fs::path input = test::TestDataDir() / "pydicom/test_files" / c.file;
    const fs::path out = test::ScratchDir(std::string("render-annotations-") + c.name) / "out.png";
    int code = 0;
    // The C locale's date format, whatever the machine's.
    const std::string listing =
        test::RunCommand("LC_ALL=C " + (test::BinaryDir() / "bin" / "vexel").string() +
                             " render '" + input.string() + "' --out '" + out.string() +
                             "' --print-annotations " + c.options + " 2>/dev/null",
                         &code);
    ASSERT_EQ(code, 0) << listing;
    for (const std::string& line : c.present)
        EXPECT_NE(listing.find("\n" + line + "\n"), std::string::npos) << line << "\n" << listing;
    for (const std::string& line : c.absent)
        EXPECT_EQ(listing.find(line), std::string::npos) << line << "\n" << listing;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, RenderAnnotationsTest,
    ::testing::Values(
        AnnotationCase{"ct",
                       "CT_small.dcm",
                       "",
                       {"top-left: Im: 1/1", "top-left: Se: 1", "top-right: CompressedSamples^CT1",
                        "top-right: 1CT1", "top-right: O", "top-right: JFK IMAGING CENTER",
                        "bottom-left: T: 5.0mm L: -75.7mm", "bottom-right: 04/30/97 11:30:08",
                        "left: R", "right: L", "top: A", "bottom: P"},
                       {}},
        AnnotationCase{"ctRotated",
                       "CT_small.dcm",
                       "--rotate 90",
                       {"left: P", "right: A", "top: R", "bottom: L", "top-right: R: 90\u00b0 CW"},
                       {}},
        AnnotationCase{"ctBasic",
                       "CT_small.dcm",
                       "--annotations basic --preset bone",
                       {"top-right: JFK IMAGING CENTER", "bottom-left: WL: 300 WW: 1500 [CT Bone]"},
                       {"CompressedSamples", "top-right: O\n"}},
        AnnotationCase{"ctNone", "CT_small.dcm", "--annotations none", {}, {"top-left", "left:"}},
        // The date and time of the study: the file has no content, acquisition or series ones.
        AnnotationCase{"mr",
                       "MR_small.dcm",
                       "",
                       {"top-right: CompressedSamples^MR1", "top-right: TOSHIBA",
                        "bottom-left: T: 0.8mm L: 6.6mm", "bottom-right: 08/26/04 18:50:59",
                        "bottom-right: TR: 4000.0 TE: 240.0"},
                       {}},
        AnnotationCase{"ultrasoundLoop",
                       "examples_ybr_color.dcm",
                       "--frame 11",
                       {"top-left: Im: 1/1 Fr: 12/30", "top-right: PLA", "top-right: 204",
                        "bottom-right: 05/03/16 12:15:35"},
                       {"\nleft:", "bottom-left: T:"}}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace vexel
