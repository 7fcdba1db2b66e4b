// libvexel-jpeg2000.so (JPEG 2000 over OpenJPEG) against GDCM's decode, DCMTK's YCbCr
// rendering and the phantom images the streams were made from.
#include <gtest/gtest.h>

#include "codec_conformance.h"

namespace vexel::test {
namespace {

constexpr const char* kGdcmDecode = "gdcmconv --raw {in} {out}";
// The RGB phantom relabelled YBR_FULL before compression: GDCM then codes it without a
// component transform, and DCMTK renders the decoded YCbCr as RGB.
constexpr const char* kEncodeAsYbr =
    "cp {in} {out}.dcm && dcmodify -nb -m '(0028,0004)=YBR_FULL' {out}.dcm && "
    "gdcmconv --j2k {out}.dcm {out}";
constexpr const char* kYbrToPpm =
    "gdcmconv --raw {in} {out}.dcm && dcm2pnm --write-raw-pnm {out}.dcm {out}";

const ConformanceCase kCases[] = {
    CorpusCase("qa_ts_9", "dcm_qa_ts/9.dcm", kGdcmDecode, VEXEL_COLOUR_UNKNOWN),
    CorpusCase("mr_small_signed", "pydicom/test_files/MR_small_jp2klossless.dcm",
               kGdcmDecode, VEXEL_COLOUR_UNKNOWN),
    CorpusCase("signed_14bit_lossy", "pydicom/test_files/693_J2KI.dcm",
               kGdcmDecode, VEXEL_COLOUR_UNKNOWN, 2, 0.5),
    CorpusCase("pixel_rep_mismatch", "pydicom/test_files/J2K_pixelrep_mismatch.dcm",
               kGdcmDecode, VEXEL_COLOUR_UNKNOWN),
    CorpusCase("lossy_16bit", "pydicom/test_files/JPEG2000.dcm",
               kGdcmDecode, VEXEL_COLOUR_UNKNOWN, 2, 0.5),
    CorpusCase("rgb_lossy_ky", "pydicom/test_files/SC_rgb_gdcm_KY.dcm",
               kGdcmDecode, VEXEL_COLOUR_RGB, 2, 0.5),
    // YBR_RCT: the inverse RCT gives RGB; asking for YBR must not convert a second time.
    CorpusCase("ybr_rct", "pydicom/test_files/examples_jpeg2k.dcm", kGdcmDecode, VEXEL_COLOUR_YBR),
    CorpusCase("ybr_rct_text", "pydicom/test_files/GDCMJ2K_TextGBR.dcm",
               kGdcmDecode, VEXEL_COLOUR_YBR),
    {"ct_lossless_vs_original", nullptr, PhantomImage::kCt, "gdcmconv --j2k {in} {out}",
     Oracle::kOriginal, nullptr, VEXEL_COLOUR_UNKNOWN, 0, 0},
    {"ct_lossy", nullptr, PhantomImage::kCt, "gdcmconv --j2k --lossy -q 30 {in} {out}",
     Oracle::kDecodedDicom, kGdcmDecode, VEXEL_COLOUR_UNKNOWN, 2, 0.5},
    {"ct_irreversible", nullptr, PhantomImage::kCt,
     "gdcmconv --j2k --lossy --irreversible -q 40 {in} {out}", Oracle::kDecodedDicom, kGdcmDecode,
     VEXEL_COLOUR_UNKNOWN, 2, 0.5},
    {"pet_lossless_vs_original", nullptr, PhantomImage::kPet, "gdcmconv --j2k {in} {out}",
     Oracle::kOriginal, nullptr, VEXEL_COLOUR_UNKNOWN, 0, 0},
    {"pet_rate_10", nullptr, PhantomImage::kPet, "gdcmconv --j2k --lossy -r 10 {in} {out}",
     Oracle::kDecodedDicom, kGdcmDecode, VEXEL_COLOUR_UNKNOWN, 2, 0.5},
    {"rgb_lossless_vs_original", nullptr, PhantomImage::kRgb, "gdcmconv --j2k {in} {out}",
     Oracle::kOriginal, nullptr, VEXEL_COLOUR_RGB, 0, 0},
    {"rgb_lossy", nullptr, PhantomImage::kRgb, "gdcmconv --j2k --lossy -q 30 {in} {out}",
     Oracle::kDecodedDicom, kGdcmDecode, VEXEL_COLOUR_RGB, 2, 0.5},
    // DCMTK's YCbCr conversion rounds differently from ours by at most one.
    {"ybr_without_transform", nullptr, PhantomImage::kRgb, kEncodeAsYbr, Oracle::kPpm, kYbrToPpm,
     VEXEL_COLOUR_YBR, 1, 0.5},
};

class Jpeg2000Conformance : public ::testing::TestWithParam<ConformanceCase> {};

TEST_P(Jpeg2000Conformance, MatchesOracle) {
    RunConformanceCase("jpeg2000", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Files, Jpeg2000Conformance, ::testing::ValuesIn(kCases),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vexel::test
