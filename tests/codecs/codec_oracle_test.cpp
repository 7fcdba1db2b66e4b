// Every JPEG module against DCMTK's and GDCM's decoders on streams their encoders made from
// the phantom: lossless bit-identical, lossy within 2 of every sample and 0.5 in mean.
#include <gtest/gtest.h>

#include "codec_conformance.h"

namespace vexel::test {
namespace {

constexpr const char* kDcmtk = "dcmdjpeg {in} {out}";
constexpr const char* kGdcm = "gdcmconv --raw {in} {out}";
// 12- and 8-bit sources: DCMTK's lossy codecs rescale the CT into those depths.
#define CT12(encode) "dcmcjpeg +ee {in} {out}.j && dcmdjpeg {out}.j {out}.d && " encode " {out}.d {out}"
#define CT8(encode) "dcmcjpeg +eb {in} {out}.j && dcmdjpeg {out}.j {out}.d && " encode " {out}.d {out}"

struct JpegCase {
    const char* name;
    const char* module;
    PhantomImage image;
    const char* encode;  // {in} -> {out}
    const char* decode;  // {in} -> {out}, the oracle
    int precision;       // of the stream
    bool lossless;
    uint32_t colour;
};

const JpegCase kCases[] = {
    {"sv1_16", "jpeg2", PhantomImage::kCt, "dcmcjpeg +e1 {in} {out}", kDcmtk, 16, true, 0},
    {"sv2_16", "jpeg2", PhantomImage::kCt, "dcmcjpeg +el +sv 2 {in} {out}", kDcmtk, 16, true, 0},
    {"sv3_16", "jpeg2", PhantomImage::kCt, "dcmcjpeg +el +sv 3 {in} {out}", kDcmtk, 16, true, 0},
    {"sv4_16", "jpeg2", PhantomImage::kCt, "dcmcjpeg +el +sv 4 {in} {out}", kDcmtk, 16, true, 0},
    {"sv5_16", "jpeg2", PhantomImage::kCt, "dcmcjpeg +el +sv 5 {in} {out}", kDcmtk, 16, true, 0},
    {"sv6_16", "jpeg2", PhantomImage::kCt, "dcmcjpeg +el +sv 6 {in} {out}", kDcmtk, 16, true, 0},
    {"sv7_16", "jpeg2", PhantomImage::kCt, "dcmcjpeg +el +sv 7 {in} {out}", kDcmtk, 16, true, 0},
    {"sv6_pt3_16", "jpeg2", PhantomImage::kCt, "dcmcjpeg +el +sv 6 +pt 3 {in} {out}", kDcmtk, 16,
     true, 0},
    {"gdcm_lossless_16", "jpeg2", PhantomImage::kCt, "gdcmconv --jpeg {in} {out}", kGdcm, 16, true,
     0},
    {"sv1_12", "jpeg3", PhantomImage::kCt, CT12("dcmcjpeg +pl +e1"), kDcmtk, 12, true, 0},
    {"sv4_12", "jpeg3", PhantomImage::kCt, CT12("dcmcjpeg +pl +el +sv 4"), kDcmtk, 12, true, 0},
    {"sv7_pt1_12", "jpeg3", PhantomImage::kCt, CT12("dcmcjpeg +pl +el +sv 7 +pt 1"), kDcmtk, 12,
     true, 0},
    {"extended_12", "jpeg3", PhantomImage::kCt, CT12("dcmcjpeg +ee"), kDcmtk, 12, false, 0},
    {"extended_12_gdcm", "jpeg3", PhantomImage::kCt, CT12("dcmcjpeg +ee"), kGdcm, 12, false, 0},
    {"sv1_8", "jpeg1", PhantomImage::kCt, CT8("dcmcjpeg +pl +e1"), kDcmtk, 8, true, 0},
    {"sv5_8", "jpeg1", PhantomImage::kCt, CT8("dcmcjpeg +pl +el +sv 5"), kDcmtk, 8, true, 0},
    {"baseline_8", "jpeg1", PhantomImage::kCt, CT8("dcmcjpeg +eb"), kDcmtk, 8, false, 0},
    {"progressive_8", "jpeg1", PhantomImage::kCt, CT8("dcmcjpeg +ep"), kDcmtk, 8, false, 0},
    {"rgb_sv1", "jpeg1", PhantomImage::kRgb, "dcmcjpeg +e1 {in} {out}", kDcmtk, 8, true,
     VEXEL_COLOUR_RGB},
    {"rgb_sv7", "jpeg1", PhantomImage::kRgb, "dcmcjpeg +el +sv 7 {in} {out}", kDcmtk, 8, true,
     VEXEL_COLOUR_RGB},
    {"rgb_gdcm_lossless", "jpeg1", PhantomImage::kRgb, "gdcmconv --jpeg {in} {out}", kGdcm, 8, true,
     VEXEL_COLOUR_RGB},
    {"rgb_baseline_ybr422", "jpeg1", PhantomImage::kRgb, "dcmcjpeg +eb {in} {out}", kDcmtk, 8,
     false, VEXEL_COLOUR_YBR},
    {"rgb_baseline_ybr444", "jpeg1", PhantomImage::kRgb, "dcmcjpeg +eb +s4 {in} {out}", kDcmtk, 8,
     false, VEXEL_COLOUR_YBR},
    {"rgb_baseline_rgb", "jpeg1", PhantomImage::kRgb, "dcmcjpeg +eb +cr {in} {out}", kDcmtk, 8,
     false, VEXEL_COLOUR_RGB},
    {"rgb_extended_12", "jpeg3", PhantomImage::kRgb, "dcmcjpeg +ee +bt {in} {out}", kDcmtk, 12,
     false, VEXEL_COLOUR_YBR},
};

class CodecOracleTest : public ::testing::TestWithParam<JpegCase> {};

TEST_P(CodecOracleTest, MatchesIndependentDecoder) {
    const JpegCase& c = GetParam();
    if (!HaveProgram("dcmcjpeg") || !HaveProgram("gdcmconv")) GTEST_SKIP() << "DCMTK/GDCM absent";
    ConformanceCase row{c.name,      nullptr,     c.image, c.encode, Oracle::kDecodedDicom,
                        c.decode,    c.colour,    c.lossless ? 0 : 2, c.lossless ? 0 : 0.5};
    row.precision = c.precision;
    RunConformanceCase(c.module, row);
}

INSTANTIATE_TEST_SUITE_P(Phantom, CodecOracleTest, ::testing::ValuesIn(kCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace vexel::test
