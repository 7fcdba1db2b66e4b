// vexel render against DCMTK's dcmj2pnm on real files: the same window gives the same picture
// within one grey level, rotations and flips match ImageMagick's, colour is exact; the
// command's refusals; and --print-annotations, the corner and edge texts against the values
// dcmdump shows for the same files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/test_paths.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::Vexel;

// The pixels of an image file as 8-bit samples ("gray" or "rgb"), read by ImageMagick.
std::vector<uint8_t> Samples(const fs::path& image, const std::string& kind, const fs::path& raw) {
    int code = 0;
    test::RunCommand("convert " + Quote(image) + " -depth 8 " + kind + ":" + Quote(raw), &code);
    return code == 0 ? test::ReadFileBytes(raw) : std::vector<uint8_t>();
}

int LargestDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int largest = a.size() != b.size() || a.empty() ? 256 : 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        largest = std::max(largest, std::abs(a[i] - b[i]));
    return largest;
}

struct RealFile {
    const char* path;  // under the shared test data
    int columns;
    int rows;
    bool colour;
};

class RenderAgainstDcmtk : public testing::TestWithParam<RealFile> {};

TEST_P(RenderAgainstDcmtk, SameWindowSamePicture) {
    VEXEL_REQUIRE_TESTDATA();
    if (!test::HaveProgram("dcmj2pnm") || !test::HaveProgram("convert"))
        GTEST_SKIP() << "dcmj2pnm or convert missing";
    const RealFile& file = GetParam();
    const fs::path input = test::TestDataDir() / file.path;
    const fs::path dir = test::ScratchDir("render-dcmtk");
    const std::string size = std::to_string(file.columns) + "x" + std::to_string(file.rows);
    const std::string window = file.colour ? "" : " --window 40,400";
    const std::string kind = file.colour ? "rgb" : "gray";
    int code = 0;
    test::RunCommand("dcmj2pnm -q +on" + std::string(file.colour ? "" : " +Ww 40 400") + " " +
                         Quote(input) + " " + Quote(dir / "dcmtk.png"),
                     &code);
    ASSERT_EQ(code, 0);

    struct View {
        std::string options;  // of vexel render
        std::string magick;   // the same change applied to DCMTK's picture
        bool swapsSides;
    };
    for (const View& view : {View{"", "", false}, View{"--rotate 90", "-rotate 90", true},
                             View{"--rotate 270 --flip h", "-rotate 270 -flop", true},
                             View{"--flip v", "-flip", false}}) {
        const std::string viewSize =
            view.swapsSides ? std::to_string(file.rows) + "x" + std::to_string(file.columns) : size;
        test::RunCommand(Vexel() + " render " + Quote(input) + " --size " + viewSize +
                             " --zoom 1 --no-layers" + window + " " + view.options + " --out " +
                             Quote(dir / "vexel.png") + " >/dev/null",
                         &code);
        ASSERT_EQ(code, 0) << view.options;
        test::RunCommand("convert " + Quote(dir / "dcmtk.png") + " " + view.magick + " " +
                             Quote(dir / "expected.png"),
                         &code);
        ASSERT_EQ(code, 0);
        const auto ours = Samples(dir / "vexel.png", kind, dir / "vexel.raw");
        const auto theirs = Samples(dir / "expected.png", kind, dir / "expected.raw");
        ASSERT_EQ(ours.size(), size_t(file.columns) * file.rows * (file.colour ? 3 : 1));
        // DCMTK rounds the VOI function differently by at most one level; colour is exact.
        EXPECT_LE(LargestDifference(ours, theirs), file.colour ? 0 : 1)
            << file.path << " " << view.options;
    }
}

INSTANTIATE_TEST_SUITE_P(
    RealFiles, RenderAgainstDcmtk,
    testing::Values(RealFile{"pydicom/test_files/CT_small.dcm", 128, 128, false},
                    RealFile{"dcm_qa_ts/5.dcm", 384, 384, false},
                    RealFile{"dwv/gdcm-CT-MONO2-8-abdo.dcm", 512, 512, false},
                    RealFile{"pydicom/test_files/SC_rgb_rle.dcm", 100, 100, true},
                    RealFile{"AlizaMS/001US/TESTXX02.dcm", 800, 600, true}));

TEST(VexelRender, RefusesBadRequestsWithoutWritingAFile) {
    VEXEL_REQUIRE_TESTDATA();
    const fs::path input = test::TestDataDir() / "pydicom/test_files/CT_small.dcm";
    const fs::path dir = test::ScratchDir("render-refusals");
    const fs::path out = dir / "out.png";
    struct Case {
        std::string arguments;
        int code;
    };
    for (const Case& c :
         {Case{"--size 100000x10", 2}, Case{"--zoom nan", 2}, Case{"--rotate 45", 2},
          Case{"--preset lungs --window 1,2", 2}, Case{"--frame 3", 1}}) {
        int code = 0;
        test::RunCommand(Vexel() + " render " + Quote(input) + " " + c.arguments + " --out " +
                             Quote(out) + " 2>/dev/null",
                         &code);
        EXPECT_EQ(code, c.code) << c.arguments;
        EXPECT_FALSE(fs::exists(out)) << c.arguments;
    }
}



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
