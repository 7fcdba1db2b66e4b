// vexel render against DCMTK's dcmj2pnm on real files: the same window gives the same picture
// within one grey level, rotations and flips match ImageMagick's, colour is exact; and the
// command's refusals.
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

}  // namespace
}  // namespace vexel
