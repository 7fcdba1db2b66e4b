// The JPEG modules on the real-world files of the shared corpus, each routed by its frame
// header's precision as the program does (1-8 jpeg1, 9-12 jpeg3, 13-16 jpeg2), against
// dcmdjpeg's decode of the same file: lossless bit-identical, lossy within 2 (mean 0.5).
#include <gtest/gtest.h>

#include <cmath>

#include "codec_corpus.h"
#include "codec_module.h"
#include "common/test_paths.h"

namespace vexel::test {
namespace {

namespace fs = std::filesystem;

struct CorpusCase {
    const char* path;  // under the shared test data
    bool lossless;
};

const CorpusCase kFiles[] = {
    {"dcm_qa_ts/5.dcm", true},
    {"dcm_qa_ts/6.dcm", true},
    {"pydicom/test_files/SC_rgb_jpeg_gdcm.dcm", true},
    {"pydicom/test_files/JPEG-lossy.dcm", false},
    {"pydicom/test_files/JPGExtended.dcm", false},
    {"pydicom/test_files/SC_jpeg_no_color_transform.dcm", false},
    {"pydicom/test_files/SC_jpeg_no_color_transform_2.dcm", false},
    {"pydicom/test_files/SC_rgb_dcmtk_+eb+cr.dcm", false},
    {"pydicom/test_files/SC_rgb_dcmtk_+eb+cy+n1.dcm", false},
    {"pydicom/test_files/SC_rgb_dcmtk_+eb+cy+n2.dcm", false},
    {"pydicom/test_files/SC_rgb_dcmtk_+eb+cy+np.dcm", false},
    {"pydicom/test_files/SC_rgb_dcmtk_+eb+cy+s2.dcm", false},
    {"pydicom/test_files/SC_rgb_dcmtk_+eb+cy+s4.dcm", false},
    {"pydicom/test_files/SC_rgb_jpeg_app14_dcmd.dcm", false},
    {"pydicom/test_files/SC_rgb_jpeg_dcmtk.dcm", false},
    {"pydicom/test_files/SC_rgb_jpeg_lossy_gdcm.dcm", false},
    {"pydicom/test_files/SC_rgb_small_odd_jpeg.dcm", false},
    {"pydicom/test_files/examples_ybr_color.dcm", false},
};

const char* ModuleFor(int precision) {
    if (precision >= 1 && precision <= 8) return "jpeg1";
    if (precision >= 9 && precision <= 12) return "jpeg3";
    if (precision >= 13 && precision <= 16) return "jpeg2";
    return nullptr;
}

template <typename T>
std::string FirstBadSample(const std::vector<T>& expected, const std::vector<T>& actual,
                           uint32_t columns, uint32_t samples, int tolerance) {
    double total = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        const int d = std::abs(int{expected[i]} - int{actual[i]});
        total += d;
        if (d > tolerance) {
            const size_t pixel = i / samples;
            return "row " + std::to_string(pixel / columns) + " column " +
                   std::to_string(pixel % columns) + ": expected " + std::to_string(expected[i]) +
                   ", decoded " + std::to_string(actual[i]);
        }
    }
    if (!expected.empty() && total / static_cast<double>(expected.size()) > 0.5) {
        return "mean difference above 0.5";
    }
    return "";
}

class JpegCorpusTest : public ::testing::TestWithParam<CorpusCase> {};

TEST_P(JpegCorpusTest, MatchesDcmdjpeg) {
    VEXEL_REQUIRE_TESTDATA();
    if (!HaveProgram("dcmdjpeg")) GTEST_SKIP() << "dcmdjpeg not installed";
    const CorpusCase& c = GetParam();
    const fs::path file = TestDataDir() / c.path;
    const fs::path dir = ScratchDir("jpeg-corpus-" + file.stem().string());
    // The shared file stays in place: dcmdump +W writes its items beside a symbolic link.
    fs::create_symlink(file, dir / file.filename());
    std::string error;
    const std::vector<uint8_t> frame = FirstFrame(dir / file.filename(), &error);
    ASSERT_FALSE(frame.empty()) << error;
    const char* module = ModuleFor(StreamPrecision(frame));
    ASSERT_NE(module, nullptr) << c.path;

    std::string log;
    const fs::path decoded = dir / "dcmdjpeg.dcm";
    ASSERT_TRUE(RunTool("dcmdjpeg \"$IN\" \"$OUT\"", file, decoded, &log)) << log;
    NativePixels expected;
    ASSERT_TRUE(ReadNativePixels(decoded, &expected, &error)) << error;
    // The data set's photometric interpretation tells the module whether to convert.
    const std::string photometric = Attribute(file, "0028,0004");
    const uint32_t colour = expected.samplesPerPixel != 3      ? VEXEL_COLOUR_UNKNOWN
                            : photometric.rfind("YBR", 0) == 0 ? VEXEL_COLOUR_YBR
                                                               : VEXEL_COLOUR_RGB;
    const auto codec = CCodecModule::Load(module, &error);
    ASSERT_TRUE(codec) << error;
    const DecodeResult result =
        codec->Decode(frame, expected.rows, expected.columns, expected.samplesPerPixel, colour);
    ASSERT_EQ(result.status, VEXEL_CODEC_OK) << c.path << " with " << module;
    EXPECT_TRUE(result.guardIntact);
    const int tolerance = c.lossless ? 0 : 2;
    if (expected.samplesPerPixel == 1) {
        const auto words = Words(result.output, expected.grey.size());
        EXPECT_EQ(FirstBadSample(expected.grey, words, expected.columns, 1, tolerance), "")
            << c.path;
    } else {
        // Frame 0 of a multi-frame file: dcmdjpeg's output holds all frames.
        std::vector<uint8_t> first(expected.rgb.begin(),
                                   expected.rgb.begin() + static_cast<long>(result.output.size()));
        EXPECT_EQ(FirstBadSample(first, result.output, expected.columns, 3, tolerance), "")
            << c.path;
    }
}

INSTANTIATE_TEST_SUITE_P(Shared, JpegCorpusTest, ::testing::ValuesIn(kFiles),
                         [](const auto& testInfo) {
                             std::string name = fs::path(testInfo.param.path).stem().string();
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             }
                             return name + "_" + std::to_string(testInfo.index);
                         });

}  // namespace
}  // namespace vexel::test
