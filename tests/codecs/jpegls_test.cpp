// libvexel-jpeg4.so (JPEG-LS over CharLS) against DCMTK's dcmdjpls and dcm2pnm.
#include <gtest/gtest.h>

#include "codec_conformance.h"

namespace vexel::test {
namespace {

constexpr const char* kDcmtkDecode = "dcmdjpls +px {in} {out}";
// DCMTK renders YBR_FULL as RGB; the stream is relabelled YBR_FULL first.
constexpr const char* kAsYbrToPpm =
    "dcmdjpls {in} {out}.dcm && dcmodify -nb -m '(0028,0004)=YBR_FULL' {out}.dcm && "
    "dcm2pnm --write-raw-pnm {out}.dcm {out}";

const ConformanceCase kCases[] = {
    CorpusCase("qa_ts_7", "dcm_qa_ts/7.dcm", kDcmtkDecode, VEXEL_COLOUR_UNKNOWN),
    CorpusCase("qa_ts_8", "dcm_qa_ts/8.dcm", kDcmtkDecode, VEXEL_COLOUR_UNKNOWN),
    CorpusCase("mr_small_signed", "pydicom/test_files/MR_small_jpeg_ls_lossless.dcm",
               kDcmtkDecode, VEXEL_COLOUR_UNKNOWN),
    CorpusCase("near_lossless_8bit", "pydicom/test_files/JPEGLSNearLossless_08.dcm",
               kDcmtkDecode, VEXEL_COLOUR_UNKNOWN),
    CorpusCase("near_lossless_16bit", "pydicom/test_files/JPEGLSNearLossless_16.dcm",
               kDcmtkDecode, VEXEL_COLOUR_UNKNOWN),
    CorpusCase("rgb_lossy_line", "pydicom/test_files/SC_rgb_jls_lossy_line.dcm",
               kDcmtkDecode, VEXEL_COLOUR_RGB),
    CorpusCase("rgb_lossy_sample", "pydicom/test_files/SC_rgb_jls_lossy_sample.dcm",
               kDcmtkDecode, VEXEL_COLOUR_RGB),
    {"ct_lossless_vs_original", nullptr, PhantomImage::kCt, "dcmcjpls {in} {out}",
     Oracle::kOriginal, nullptr, VEXEL_COLOUR_UNKNOWN, 0, 0},
    // DCMTK encodes near-lossless only for unsigned data: the PET slice.
    {"pet_near_3", nullptr, PhantomImage::kPet, "dcmcjpls +en +md 3 {in} {out}",
     Oracle::kDecodedDicom, kDcmtkDecode, VEXEL_COLOUR_UNKNOWN, 0, 0},
    {"pet_lossless", nullptr, PhantomImage::kPet, "dcmcjpls {in} {out}", Oracle::kDecodedDicom,
     kDcmtkDecode, VEXEL_COLOUR_UNKNOWN, 0, 0},
    {"ct_gdcm", nullptr, PhantomImage::kCt, "gdcmconv --jpegls {in} {out}", Oracle::kDecodedDicom,
     kDcmtkDecode, VEXEL_COLOUR_UNKNOWN, 0, 0},
    {"rgb_line", nullptr, PhantomImage::kRgb, "dcmcjpls +il {in} {out}", Oracle::kOriginal, nullptr,
     VEXEL_COLOUR_RGB, 0, 0},
    {"rgb_sample", nullptr, PhantomImage::kRgb, "dcmcjpls +is {in} {out}", Oracle::kOriginal,
     nullptr, VEXEL_COLOUR_RGB, 0, 0},
    {"rgb_none", nullptr, PhantomImage::kRgb, "dcmcjpls +in {in} {out}", Oracle::kOriginal, nullptr,
     VEXEL_COLOUR_RGB, 0, 0},
    {"rgb_near_sample", nullptr, PhantomImage::kRgb, "dcmcjpls +en +is {in} {out}",
     Oracle::kDecodedDicom, kDcmtkDecode, VEXEL_COLOUR_RGB, 0, 0},
    {"rgb_near_none", nullptr, PhantomImage::kRgb, "dcmcjpls +en +md 4 +in {in} {out}",
     Oracle::kDecodedDicom, kDcmtkDecode, VEXEL_COLOUR_RGB, 0, 0},
    {"rgb_gdcm", nullptr, PhantomImage::kRgb, "gdcmconv --jpegls {in} {out}", Oracle::kOriginal,
     nullptr, VEXEL_COLOUR_RGB, 0, 0},
    // DCMTK's YCbCr conversion rounds differently from ours by at most one.
    {"ybr_sample", nullptr, PhantomImage::kRgb, "dcmcjpls +is {in} {out}", Oracle::kPpm,
     kAsYbrToPpm, VEXEL_COLOUR_YBR, 1, 0.5},
    {"ybr_none", nullptr, PhantomImage::kRgb, "dcmcjpls +in {in} {out}", Oracle::kPpm, kAsYbrToPpm,
     VEXEL_COLOUR_YBR, 1, 0.5},
};

class JpegLsConformance : public ::testing::TestWithParam<ConformanceCase> {};

TEST_P(JpegLsConformance, MatchesOracle) {
    RunConformanceCase("jpeg4", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Files, JpegLsConformance, ::testing::ValuesIn(kCases),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vexel::test
