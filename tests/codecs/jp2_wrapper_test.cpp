// JP2 files (ISO/IEC 15444-1 Annex I) built here around GDCM's codestreams: the module must
// find the codestream by the file's signature, decode it as it decodes the bare codestream,
// and follow the JP2 colour space when the request leaves colour open.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec_module.h"
#include "dicom_pixel_bytes.h"
#include "phantom_streams.h"
#include "vexel_codec.h"

namespace vexel::test {
namespace {

constexpr uint32_t kGreyscale = 17;  // enumerated colour spaces of the colr box
constexpr uint32_t kSrgb = 16;
constexpr uint32_t kSycc = 18;

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutBoxHeader(std::vector<uint8_t>& out, uint32_t length, const char* type) {
    Put32(out, length);
    out.insert(out.end(), type, type + 4);
}

std::vector<uint8_t> WrapInJp2(const std::vector<uint8_t>& codestream, const ImageShape& shape,
                               uint32_t colourSpace) {
    std::vector<uint8_t> out = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    PutBoxHeader(out, 20, "ftyp");
    out.insert(out.end(), {'j', 'p', '2', ' ', 0, 0, 0, 0, 'j', 'p', '2', ' '});
    PutBoxHeader(out, 8 + 22 + 15, "jp2h");
    PutBoxHeader(out, 22, "ihdr");
    Put32(out, shape.rows);
    Put32(out, shape.columns);
    out.insert(out.end(), {0, static_cast<uint8_t>(shape.samplesPerPixel),
                           static_cast<uint8_t>((shape.bitsStored - 1) |
                                                (shape.pixelRepresentation ? 0x80 : 0)),
                           7, 0, 0});
    PutBoxHeader(out, 15, "colr");
    out.insert(out.end(), {1, 0, 0});
    Put32(out, colourSpace);
    PutBoxHeader(out, static_cast<uint32_t>(8 + codestream.size()), "jp2c");
    out.insert(out.end(), codestream.begin(), codestream.end());
    return out;
}

struct Jp2Case {
    const char* name;
    PhantomImage image;
    const char* encodeCommand;
    uint32_t colourSpace;
    uint32_t codestreamColour;  // request colour that must give the same pixels
};

class Jp2Wrapper : public ::testing::TestWithParam<Jp2Case> {};

TEST_P(Jp2Wrapper, DecodesLikeItsCodestream) {
    const Jp2Case& c = GetParam();
    std::string error;
    const auto module = CCodecModule::Load("jpeg2000", &error);
    ASSERT_TRUE(module) << error;
    const auto source = PhantomSource(c.image);
    const auto encoded = ConvertOnce(std::string("jp2_") + c.name, c.encodeCommand, source, &error);
    ASSERT_FALSE(encoded.empty()) << error;
    const std::vector<uint8_t> file = ReadFileBytes(encoded);
    const auto codestream = EncapsulatedFrame(file);
    const auto shape = ReadImageShape(file);
    ASSERT_TRUE(codestream && shape);

    const DecodeResult bare = module->Decode(*codestream, shape->rows, shape->columns,
                                             shape->samplesPerPixel, c.codestreamColour);
    ASSERT_EQ(bare.status, VEXEL_CODEC_OK);
    const DecodeResult wrapped =
        module->Decode(WrapInJp2(*codestream, *shape, c.colourSpace), shape->rows, shape->columns,
                       shape->samplesPerPixel, VEXEL_COLOUR_UNKNOWN);
    ASSERT_EQ(wrapped.status, VEXEL_CODEC_OK);
    EXPECT_TRUE(wrapped.guardIntact);
    EXPECT_EQ(wrapped.output, bare.output) << c.name;
}

constexpr const char* kEncodeAsYbr =
    "cp {in} {out}.dcm && dcmodify -nb -m '(0028,0004)=YBR_FULL' {out}.dcm && "
    "gdcmconv --j2k {out}.dcm {out}";

const Jp2Case kJp2Cases[] = {
    {"grey_signed", PhantomImage::kCt, "gdcmconv --j2k {in} {out}", kGreyscale,
     VEXEL_COLOUR_UNKNOWN},
    {"srgb", PhantomImage::kRgb, "gdcmconv --j2k {in} {out}", kSrgb, VEXEL_COLOUR_RGB},
    // sYCC without a component transform: the JP2 colour space alone asks for conversion.
    {"sycc", PhantomImage::kRgb, kEncodeAsYbr, kSycc, VEXEL_COLOUR_YBR},
};

INSTANTIATE_TEST_SUITE_P(Files, Jp2Wrapper, ::testing::ValuesIn(kJp2Cases),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vexel::test
