// Every JPEG module against DCMTK's and GDCM's decoders on streams their encoders made from
// the phantom: lossless bit-identical, lossy within 2 of every sample and 0.5 in mean.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "codec_corpus.h"
#include "codec_module.h"
#include "common/test_paths.h"

namespace vexel::test {
namespace {

namespace fs = std::filesystem;

struct OracleCase {
    const char* name;
    const char* module;
    const char* source;  // file of CorpusDir()
    const char* encode;  // $IN -> $OUT
    const char* decode;  // $IN -> $OUT, the oracle
    int precision;       // of the stream
    bool lossless;
    uint32_t colour;
};

constexpr const char* kDcmtk = "dcmdjpeg \"$IN\" \"$OUT\"";
constexpr const char* kGdcm = "gdcmconv --raw \"$IN\" \"$OUT\"";

const OracleCase kCases[] = {
    {"sv1_16", "jpeg2", "ct16.dcm", "dcmcjpeg +e1 \"$IN\" \"$OUT\"", kDcmtk, 16, true, 0},
    {"sv2_16", "jpeg2", "ct16.dcm", "dcmcjpeg +el +sv 2 \"$IN\" \"$OUT\"", kDcmtk, 16, true, 0},
    {"sv3_16", "jpeg2", "ct16.dcm", "dcmcjpeg +el +sv 3 \"$IN\" \"$OUT\"", kDcmtk, 16, true, 0},
    {"sv4_16", "jpeg2", "ct16.dcm", "dcmcjpeg +el +sv 4 \"$IN\" \"$OUT\"", kDcmtk, 16, true, 0},
    {"sv5_16", "jpeg2", "ct16.dcm", "dcmcjpeg +el +sv 5 \"$IN\" \"$OUT\"", kDcmtk, 16, true, 0},
    {"sv6_16", "jpeg2", "ct16.dcm", "dcmcjpeg +el +sv 6 \"$IN\" \"$OUT\"", kDcmtk, 16, true, 0},
    {"sv7_16", "jpeg2", "ct16.dcm", "dcmcjpeg +el +sv 7 \"$IN\" \"$OUT\"", kDcmtk, 16, true, 0},
    {"sv6_pt3_16", "jpeg2", "ct16.dcm", "dcmcjpeg +el +sv 6 +pt 3 \"$IN\" \"$OUT\"", kDcmtk, 16,
     true, 0},
    {"gdcm_lossless_16", "jpeg2", "ct16.dcm", "gdcmconv --jpeg \"$IN\" \"$OUT\"", kGdcm, 16, true,
     0},
    {"sv1_12", "jpeg3", "ct12.dcm", "dcmcjpeg +pl +e1 \"$IN\" \"$OUT\"", kDcmtk, 12, true, 0},
    {"sv4_12", "jpeg3", "ct12.dcm", "dcmcjpeg +pl +el +sv 4 \"$IN\" \"$OUT\"", kDcmtk, 12, true, 0},
    {"sv7_pt1_12", "jpeg3", "ct12.dcm", "dcmcjpeg +pl +el +sv 7 +pt 1 \"$IN\" \"$OUT\"", kDcmtk, 12,
     true, 0},
    {"extended_12", "jpeg3", "ct12.dcm", "dcmcjpeg +ee \"$IN\" \"$OUT\"", kDcmtk, 12, false, 0},
    {"extended_12_gdcm", "jpeg3", "ct12.dcm", "dcmcjpeg +ee \"$IN\" \"$OUT\"", kGdcm, 12, false, 0},
    {"sv1_8", "jpeg1", "ct8.dcm", "dcmcjpeg +pl +e1 \"$IN\" \"$OUT\"", kDcmtk, 8, true, 0},
    {"sv5_8", "jpeg1", "ct8.dcm", "dcmcjpeg +pl +el +sv 5 \"$IN\" \"$OUT\"", kDcmtk, 8, true, 0},
    {"baseline_8", "jpeg1", "ct8.dcm", "dcmcjpeg +eb \"$IN\" \"$OUT\"", kDcmtk, 8, false, 0},
    {"progressive_8", "jpeg1", "ct8.dcm", "dcmcjpeg +ep \"$IN\" \"$OUT\"", kDcmtk, 8, false, 0},
    {"rgb_sv1", "jpeg1", "rgb.dcm", "dcmcjpeg +e1 \"$IN\" \"$OUT\"", kDcmtk, 8, true,
     VEXEL_COLOUR_RGB},
    {"rgb_sv7", "jpeg1", "rgb.dcm", "dcmcjpeg +el +sv 7 \"$IN\" \"$OUT\"", kDcmtk, 8, true,
     VEXEL_COLOUR_RGB},
    {"rgb_gdcm_lossless", "jpeg1", "rgb.dcm", "gdcmconv --jpeg \"$IN\" \"$OUT\"", kGdcm, 8, true,
     VEXEL_COLOUR_RGB},
    {"rgb_baseline_ybr422", "jpeg1", "rgb.dcm", "dcmcjpeg +eb \"$IN\" \"$OUT\"", kDcmtk, 8, false,
     VEXEL_COLOUR_YBR},
    {"rgb_baseline_ybr444", "jpeg1", "rgb.dcm", "dcmcjpeg +eb +s4 \"$IN\" \"$OUT\"", kDcmtk, 8,
     false, VEXEL_COLOUR_YBR},
    {"rgb_baseline_rgb", "jpeg1", "rgb.dcm", "dcmcjpeg +eb +cr \"$IN\" \"$OUT\"", kDcmtk, 8, false,
     VEXEL_COLOUR_RGB},
    {"rgb_extended_12", "jpeg3", "rgb.dcm", "dcmcjpeg +ee +bt \"$IN\" \"$OUT\"", kDcmtk, 12, false,
     VEXEL_COLOUR_YBR},
};

// First differing sample, or "" when within the tolerance.
template <typename T>
std::string Compare(const std::vector<T>& expected, const std::vector<T>& actual, int columns,
                    int samplesPerPixel, bool lossless) {
    if (expected.size() != actual.size()) return "sizes differ";
    double total = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        const int difference = std::abs(int{expected[i]} - int{actual[i]});
        total += difference;
        if (difference > (lossless ? 0 : 2)) {
            const size_t pixel = i / samplesPerPixel;
            return "pixel (row " + std::to_string(pixel / columns) + ", column " +
                   std::to_string(pixel % columns) + ") sample " +
                   std::to_string(i % samplesPerPixel) + ": expected " +
                   std::to_string(expected[i]) + ", decoded " + std::to_string(actual[i]);
        }
    }
    const double mean = expected.empty() ? 0 : total / static_cast<double>(expected.size());
    if (mean > 0.5) return "mean difference " + std::to_string(mean);
    return "";
}

class CodecOracleTest : public ::testing::TestWithParam<OracleCase> {};

TEST_P(CodecOracleTest, MatchesIndependentDecoder) {
    const OracleCase& c = GetParam();
    if (!HaveProgram("dcmcjpeg") || !HaveProgram("gdcmconv")) GTEST_SKIP() << "DCMTK/GDCM absent";
    ASSERT_FALSE(CorpusDir().empty()) << "phantom corpus could not be written";
    const fs::path source = CorpusDir() / c.source;
    const fs::path encoded = CorpusDir() / (std::string(c.name) + ".jpeg.dcm");
    const fs::path decoded = CorpusDir() / (std::string(c.name) + ".oracle.dcm");
    std::string log;
    ASSERT_TRUE(RunTool(c.encode, source, encoded, &log)) << c.encode << ": " << log;
    ASSERT_TRUE(RunTool(c.decode, encoded, decoded, &log)) << c.decode << ": " << log;
    std::string error;
    const std::vector<uint8_t> frame = FirstFrame(encoded, &error);
    ASSERT_FALSE(frame.empty()) << error;
    ASSERT_EQ(StreamPrecision(frame), c.precision) << encoded;
    NativePixels expected;
    ASSERT_TRUE(ReadNativePixels(decoded, &expected, &error)) << error;

    const auto module = CCodecModule::Load(c.module, &error);
    ASSERT_TRUE(module) << error;
    const DecodeResult result =
        module->Decode(frame, expected.rows, expected.columns, expected.samplesPerPixel, c.colour);
    ASSERT_EQ(result.status, VEXEL_CODEC_OK) << encoded;
    EXPECT_TRUE(result.guardIntact);
    EXPECT_EQ(result.request.streamPrecision, static_cast<uint32_t>(c.precision));
    const int columns = static_cast<int>(expected.columns);
    if (expected.samplesPerPixel == 1) {
        const auto words = Words(result.output, expected.grey.size());
        EXPECT_EQ(Compare(expected.grey, words, columns, 1, c.lossless), "") << encoded;
    } else {
        EXPECT_EQ(Compare(expected.rgb, result.output, columns, 3, c.lossless), "") << encoded;
    }
}

INSTANTIATE_TEST_SUITE_P(Phantom, CodecOracleTest, ::testing::ValuesIn(kCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace vexel::test
