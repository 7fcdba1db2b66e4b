// Every codec module against the table of bad streams and bad requests, on streams DCMTK
// and GDCM made from the phantom.
#include <gtest/gtest.h>

#include "codec_malformed.h"

namespace vexel::test {
namespace {

struct ModuleStreams {
    const char* module;
    StreamSource grey;
    StreamSource colour;
};

const ModuleStreams kModules[] = {
    {"jpeg1", {PhantomImage::kCt, "dcmcjpeg +eb {in} {out}", "jpeg_eb_ct"},
     {PhantomImage::kRgb, "dcmcjpeg +eb {in} {out}", "jpeg_eb_rgb"}},
    {"jpeg2", {PhantomImage::kCt, "dcmcjpeg +e1 {in} {out}", "jpeg_sv1_ct"},
     {PhantomImage::kRgb, "dcmcjpeg +e1 {in} {out}", "jpeg_sv1_rgb"}},
    {"jpeg3", {PhantomImage::kCt, "dcmcjpeg +ee {in} {out}", "jpeg_ee_ct"},
     {PhantomImage::kRgb, "dcmcjpeg +ee +bt {in} {out}", "jpeg_ee_rgb"}},
    {"jpeg4", {PhantomImage::kCt, "dcmcjpls {in} {out}", "jls_ct"},
     {PhantomImage::kRgb, "dcmcjpls +in {in} {out}", "jls_rgb"}},
    {"jpeg2000", {PhantomImage::kCt, "gdcmconv --j2k {in} {out}", "j2k_ct"},
     {PhantomImage::kRgb, "gdcmconv --j2k {in} {out}", "j2k_rgb"}},
};

class CodecMalformed : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(CodecMalformed, FailsWithoutWritingPastOutput) {
    for (const ModuleStreams& m : kModules) {
        SCOPED_TRACE(m.module);
        RunMalformedCase(m.module, m.grey, m.colour, GetParam());
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, CodecMalformed, ::testing::ValuesIn(MalformedCases()),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vexel::test
