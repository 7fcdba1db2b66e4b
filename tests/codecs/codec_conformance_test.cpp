// Every codec module against independent decoders (DCMTK's and GDCM's decode of lossy corpus
// files and of phantom streams their encoders made, bare or in a JP2 file; DCMTK's YCbCr
// rendering; the phantom itself), then bad streams and requests, each refused with a stated
// status without writing past the output, and streams that once hung a codec library.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "codec_module.h"
#include "common/test_paths.h"
#include "vexel_codec.h"

namespace vexel::test {
namespace {

enum class Oracle {
    kDecodedDicom,  // oracle command writes a DICOM file with native pixel data
    kPpm,           // oracle command writes an 8-bit RGB PPM (dcm2pnm: YBR converted by DCMTK)
    kOriginal,      // the uncompressed phantom the stream was made from
};
using enum Oracle;
using enum PhantomImage;
constexpr uint32_t kNone = VEXEL_COLOUR_UNKNOWN, kAsRgb = VEXEL_COLOUR_RGB,
                   kAsYbr = VEXEL_COLOUR_YBR;

struct ConformanceCase {
    const char* module;
    const char* name;
    const char* testDataPath;  // relative to the shared corpus, or null for a phantom image
    PhantomImage phantom;
    const char* encodeCommand;  // phantom only: {in} -> {out}
    Oracle oracle;
    const char* oracleCommand;  // {in} -> {out}; unused for kOriginal
    uint32_t colour;            // VEXEL_COLOUR_* handed to the module
    int maxDifference;          // per sample; 0 for lossless
    double maxMeanDifference;
    int precision;                // of the stream, checked against what the module reports; 0: any
    uint32_t jp2ColourSpace = 0;  // else the stream goes in a JP2 file with this colr box value
};

// A file of the shared corpus, decoded by oracleCommand.
constexpr ConformanceCase Corpus(const char* module, const char* name, const char* path,
                                 const char* oracleCommand, uint32_t colour, int maxDifference = 0,
                                 double maxMean = 0) {
    return {module,        name,   path,          {},      nullptr, kDecodedDicom,
            oracleCommand, colour, maxDifference, maxMean, 0};
}

// A phantom image compressed by encodeCommand.
constexpr ConformanceCase Made(const char* module, const char* name, PhantomImage image,
                               const char* encode, Oracle oracle, const char* oracleCommand,
                               uint32_t colour, int maxDifference = 0, double maxMean = 0) {
    return {module,        name,   nullptr,       image,   encode, oracle,
            oracleCommand, colour, maxDifference, maxMean, 0};
}

// A JPEG stream of the given precision, decoded by DCMTK or GDCM.
constexpr ConformanceCase Jpeg(const char* module, const char* name, PhantomImage image,
                               const char* encode, const char* decode, int precision, bool lossless,
                               uint32_t colour = kNone) {
    ConformanceCase c = Made(module, name, image, encode, kDecodedDicom, decode, colour,
                             lossless ? 0 : 2, lossless ? 0 : 0.5);
    c.precision = precision;
    return c;
}

// The row's codestream wrapped in a JP2 file: the module finds it by the file's signature and
// follows the JP2 colour space, as the request leaves colour open.
constexpr ConformanceCase Jp2(const char* name, ConformanceCase c, uint32_t colourSpace) {
    c.name = name;
    c.jp2ColourSpace = colourSpace;
    return c;
}
constexpr uint32_t kJp2Srgb = 16, kJp2Greyscale = 17, kJp2Sycc = 18;

constexpr const char* kDcmtk = "dcmdjpeg {in} {out}";
constexpr const char* kGdcm = "gdcmconv --raw {in} {out}";
constexpr const char* kDcmtkLs = "dcmdjpls +px {in} {out}";
// DCMTK renders YBR_FULL as RGB; the stream is relabelled YBR_FULL first.
constexpr const char* kLsAsYbrToPpm =
    "dcmdjpls {in} {out}.dcm && dcmodify -nb -m '(0028,0004)=YBR_FULL' {out}.dcm && "
    "dcm2pnm --write-raw-pnm {out}.dcm {out}";
// The RGB phantom relabelled YBR_FULL before compression: GDCM then codes it without a
// component transform, and DCMTK renders the decoded YCbCr as RGB.
constexpr const char* kJ2kEncodeAsYbr =
    "cp {in} {out}.dcm && dcmodify -nb -m '(0028,0004)=YBR_FULL' {out}.dcm && "
    "gdcmconv --j2k {out}.dcm {out}";
constexpr const char* kJ2kYbrToPpm =
    "gdcmconv --raw {in} {out}.dcm && dcm2pnm --write-raw-pnm {out}.dcm {out}";
// 12- and 8-bit sources: DCMTK's lossy codecs rescale the CT into those depths.
#define CT12(encode) \
    "dcmcjpeg +ee {in} {out}.j && dcmdjpeg {out}.j {out}.d && " encode " {out}.d {out}"
#define CT8(encode) \
    "dcmcjpeg +eb {in} {out}.j && dcmdjpeg {out}.j {out}.d && " encode " {out}.d {out}"

const ConformanceCase kCases[] = {
    // JPEG: lossless processes 14 at 16, 12 and 8 bits (the lossless stream test covers every
    // predictor on streams of its own), lossy baseline, extended and progressive.
    Jpeg("jpeg2", "sv1_16", kCt, "dcmcjpeg +e1 {in} {out}", kDcmtk, 16, true),
    Jpeg("jpeg2", "sv6_16", kCt, "dcmcjpeg +el +sv 6 {in} {out}", kDcmtk, 16, true),
    Jpeg("jpeg2", "sv7_16", kCt, "dcmcjpeg +el +sv 7 {in} {out}", kDcmtk, 16, true),
    Jpeg("jpeg2", "sv6_pt3_16", kCt, "dcmcjpeg +el +sv 6 +pt 3 {in} {out}", kDcmtk, 16, true),
    Jpeg("jpeg2", "gdcm_lossless_16", kCt, "gdcmconv --jpeg {in} {out}", kGdcm, 16, true),
    Jpeg("jpeg3", "sv1_12", kCt, CT12("dcmcjpeg +pl +e1"), kDcmtk, 12, true),
    Jpeg("jpeg3", "sv4_12", kCt, CT12("dcmcjpeg +pl +el +sv 4"), kDcmtk, 12, true),
    Jpeg("jpeg3", "sv7_pt1_12", kCt, CT12("dcmcjpeg +pl +el +sv 7 +pt 1"), kDcmtk, 12, true),
    Jpeg("jpeg3", "extended_12", kCt, CT12("dcmcjpeg +ee"), kDcmtk, 12, false),
    Jpeg("jpeg3", "extended_12_gdcm", kCt, CT12("dcmcjpeg +ee"), kGdcm, 12, false),
    Jpeg("jpeg1", "sv1_8", kCt, CT8("dcmcjpeg +pl +e1"), kDcmtk, 8, true),
    Jpeg("jpeg1", "sv5_8", kCt, CT8("dcmcjpeg +pl +el +sv 5"), kDcmtk, 8, true),
    Jpeg("jpeg1", "baseline_8", kCt, CT8("dcmcjpeg +eb"), kDcmtk, 8, false),
    Jpeg("jpeg1", "progressive_8", kCt, CT8("dcmcjpeg +ep"), kDcmtk, 8, false),
    Jpeg("jpeg1", "rgb_sv1", kRgb, "dcmcjpeg +e1 {in} {out}", kDcmtk, 8, true, kAsRgb),
    Jpeg("jpeg1", "rgb_sv7", kRgb, "dcmcjpeg +el +sv 7 {in} {out}", kDcmtk, 8, true, kAsRgb),
    Jpeg("jpeg1", "rgb_gdcm_lossless", kRgb, "gdcmconv --jpeg {in} {out}", kGdcm, 8, true, kAsRgb),
    Jpeg("jpeg1", "rgb_baseline_ybr422", kRgb, "dcmcjpeg +eb {in} {out}", kDcmtk, 8, false, kAsYbr),
    Jpeg("jpeg1", "rgb_baseline_ybr444", kRgb, "dcmcjpeg +eb +s4 {in} {out}", kDcmtk, 8, false,
         kAsYbr),
    Jpeg("jpeg1", "rgb_baseline_rgb", kRgb, "dcmcjpeg +eb +cr {in} {out}", kDcmtk, 8, false,
         kAsRgb),
    Jpeg("jpeg3", "rgb_extended_12", kRgb, "dcmcjpeg +ee +bt {in} {out}", kDcmtk, 12, false,
         kAsYbr),
    // JPEG-LS (CharLS) against dcmdjpls and dcm2pnm. Lossless corpus files are compared bit for
    // bit by the imaging decode oracle; here the lossy ones, sample by sample.
    Corpus("jpeg4", "near_lossless_8bit", "pydicom/test_files/JPEGLSNearLossless_08.dcm", kDcmtkLs,
           kNone),
    Corpus("jpeg4", "near_lossless_16bit", "pydicom/test_files/JPEGLSNearLossless_16.dcm", kDcmtkLs,
           kNone),
    Corpus("jpeg4", "rgb_lossy_line", "pydicom/test_files/SC_rgb_jls_lossy_line.dcm", kDcmtkLs,
           kAsRgb),
    Corpus("jpeg4", "rgb_lossy_sample", "pydicom/test_files/SC_rgb_jls_lossy_sample.dcm", kDcmtkLs,
           kAsRgb),
    Made("jpeg4", "ct_lossless_vs_original", kCt, "dcmcjpls {in} {out}", kOriginal, nullptr, kNone),
    // DCMTK encodes near-lossless only for unsigned data: the PET slice.
    Made("jpeg4", "pet_near_3", kPet, "dcmcjpls +en +md 3 {in} {out}", kDecodedDicom, kDcmtkLs,
         kNone),
    Made("jpeg4", "ct_gdcm", kCt, "gdcmconv --jpegls {in} {out}", kDecodedDicom, kDcmtkLs, kNone),
    Made("jpeg4", "rgb_line", kRgb, "dcmcjpls +il {in} {out}", kOriginal, nullptr, kAsRgb),
    Made("jpeg4", "rgb_sample", kRgb, "dcmcjpls +is {in} {out}", kOriginal, nullptr, kAsRgb),
    Made("jpeg4", "rgb_none", kRgb, "dcmcjpls +in {in} {out}", kOriginal, nullptr, kAsRgb),
    Made("jpeg4", "rgb_near_sample", kRgb, "dcmcjpls +en +is {in} {out}", kDecodedDicom, kDcmtkLs,
         kAsRgb),
    Made("jpeg4", "rgb_gdcm", kRgb, "gdcmconv --jpegls {in} {out}", kOriginal, nullptr, kAsRgb),
    // DCMTK's YCbCr conversion rounds differently from ours by at most one.
    Made("jpeg4", "ybr_sample", kRgb, "dcmcjpls +is {in} {out}", kPpm, kLsAsYbrToPpm, kAsYbr, 1,
         0.5),
    // JPEG 2000 (OpenJPEG) against GDCM's decode.
    Corpus("jpeg2000", "signed_14bit_lossy", "pydicom/test_files/693_J2KI.dcm", kGdcm, kNone, 2,
           0.5),
    Corpus("jpeg2000", "lossy_16bit", "pydicom/test_files/JPEG2000.dcm", kGdcm, kNone, 2, 0.5),
    Corpus("jpeg2000", "rgb_lossy_ky", "pydicom/test_files/SC_rgb_gdcm_KY.dcm", kGdcm, kAsRgb, 2,
           0.5),
    Made("jpeg2000", "ct_lossless_vs_original", kCt, "gdcmconv --j2k {in} {out}", kOriginal,
         nullptr, kNone),
    Made("jpeg2000", "ct_lossy", kCt, "gdcmconv --j2k --lossy -q 30 {in} {out}", kDecodedDicom,
         kGdcm, kNone, 2, 0.5),
    Made("jpeg2000", "ct_irreversible", kCt,
         "gdcmconv --j2k --lossy --irreversible -q 40 {in} {out}", kDecodedDicom, kGdcm, kNone, 2,
         0.5),
    Made("jpeg2000", "pet_lossless_vs_original", kPet, "gdcmconv --j2k {in} {out}", kOriginal,
         nullptr, kNone),
    Made("jpeg2000", "rgb_lossless_vs_original", kRgb, "gdcmconv --j2k {in} {out}", kOriginal,
         nullptr, kAsRgb),
    Made("jpeg2000", "rgb_lossy", kRgb, "gdcmconv --j2k --lossy -q 30 {in} {out}", kDecodedDicom,
         kGdcm, kAsRgb, 2, 0.5),
    Jp2("jp2_grey_signed",
        Made("jpeg2000", "", kCt, "gdcmconv --j2k {in} {out}", kOriginal, nullptr, kNone),
        kJp2Greyscale),
    Jp2("jp2_srgb",
        Made("jpeg2000", "", kRgb, "gdcmconv --j2k {in} {out}", kOriginal, nullptr, kNone),
        kJp2Srgb),
    // sYCC without a component transform: the JP2 colour space alone asks for conversion.
    Jp2("jp2_sycc", Made("jpeg2000", "", kRgb, kJ2kEncodeAsYbr, kPpm, kJ2kYbrToPpm, kNone, 1, 0.5),
        kJp2Sycc),
    // A frame of a million pixels decodes on OpenJPEG's thread pool as on one thread (GDCM's).
    Made("jpeg2000", "large_reversible", kLargeCt, "gdcmconv --j2k {in} {out}", kOriginal, nullptr,
         kNone),
    Made("jpeg2000", "large_irreversible", kLargeCt,
         "gdcmconv --j2k --lossy --irreversible -q 40 {in} {out}", kDecodedDicom, kGdcm, kNone),
    // DCMTK's YCbCr conversion rounds differently from ours by at most one.
    Made("jpeg2000", "ybr_without_transform", kRgb, kJ2kEncodeAsYbr, kPpm, kJ2kYbrToPpm, kAsYbr, 1,
         0.5),
};

// Greyscale words reduced to Bits Stored (sign-extended for signed data), the form every
// decoder agrees on; colour bytes interleaved.
std::vector<int32_t> NormalisedSamples(const std::vector<uint8_t>& bytes, const ImageShape& shape,
                                       bool wordsPerSample) {
    const size_t pixels = size_t{shape.rows} * shape.columns;
    std::vector<int32_t> samples;
    if (shape.samplesPerPixel == 3) {
        // Wider colour samples come out of the modules as their top 8 bits.
        const int shift = wordsPerSample && shape.bitsStored > 8 ? shape.bitsStored - 8 : 0;
        const size_t width = wordsPerSample ? 2 : 1;
        samples.resize(pixels * 3);
        for (size_t i = 0; i < pixels && bytes.size() >= pixels * 3 * width; ++i) {
            for (size_t c = 0; c < 3; ++c) {
                const size_t at =
                    width * (shape.planarConfiguration == 1 ? c * pixels + i : i * 3 + c);
                samples[i * 3 + c] =
                    (width == 2 ? bytes[at] | bytes[at + 1] << 8 : bytes[at]) >> shift;
            }
        }
        return samples;
    }
    const int bits = shape.bitsStored;
    samples.resize(pixels);
    for (size_t i = 0; i < pixels && bytes.size() >= pixels * (wordsPerSample ? 2 : 1); ++i) {
        uint32_t value = wordsPerSample ? bytes[2 * i] | bytes[2 * i + 1] << 8 : bytes[i];
        value &= (bits >= 32 ? ~0u : (1u << bits) - 1);
        const bool negative = shape.pixelRepresentation == 1 && bits < 32 && value >> (bits - 1);
        samples[i] = static_cast<int32_t>(value) - (negative ? int32_t{1} << bits : 0);
    }
    return samples;
}

void Compare(const std::vector<int32_t>& expected, const std::vector<int32_t>& actual,
             const ImageShape& shape, const ConformanceCase& c, const std::string& file) {
    ASSERT_EQ(expected.size(), actual.size()) << file;
    const size_t channels = shape.samplesPerPixel;
    double sum = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        const int32_t difference = actual[i] - expected[i];
        sum += difference;
        ASSERT_LE(std::abs(difference), c.maxDifference)
            << file << ": first difference at row " << i / channels / shape.columns << ", column "
            << i / channels % shape.columns << ": decoded " << actual[i] << ", not " << expected[i];
    }
    const double mean = sum / static_cast<double>(expected.size());
    EXPECT_LE(std::abs(mean), c.maxMeanDifference) << file << ": mean difference " << mean;
}

std::filesystem::path CompressedFile(const std::string& key, const ConformanceCase& c,
                                     std::string* log) {
    if (c.testDataPath != nullptr) return TestDataDir() / c.testDataPath;
    const std::filesystem::path source = PhantomSource(c.phantom);
    *log = "phantom not written";
    return source.empty() ? source : ConvertOnce(key + ".encoded", c.encodeCommand, source, log);
}

std::vector<uint8_t> OracleBytes(const std::string& key, const ConformanceCase& c,
                                 const std::filesystem::path& compressed, ImageShape* shape,
                                 std::string* log) {
    if (c.oracle == Oracle::kPpm) {
        const auto ppm = ConvertOnce(key + ".ppm", c.oracleCommand, compressed, log);
        shape->planarConfiguration = 0;
        const std::vector<int> rgb = ppm.empty() ? std::vector<int>() : ReadNetpbm(ppm);
        return std::vector<uint8_t>(rgb.begin(), rgb.end());
    }
    const std::filesystem::path decoded =
        c.oracle == Oracle::kOriginal
            ? PhantomSource(c.phantom)
            : ConvertOnce(key + ".decoded", c.oracleCommand, compressed, log);
    if (decoded.empty()) return {};
    const std::vector<uint8_t> file = ReadFileBytes(decoded);
    if (const auto decodedShape = ReadImageShape(file)) *shape = *decodedShape;
    return NativePixelData(file).value_or(std::vector<uint8_t>());
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
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
    const auto depth = uint8_t((shape.bitsStored - 1) | (shape.pixelRepresentation ? 0x80 : 0));
    out.insert(out.end(), {0, uint8_t(shape.samplesPerPixel), depth, 7, 0, 0});
    PutBoxHeader(out, 15, "colr");
    out.insert(out.end(), {1, 0, 0});
    Put32(out, colourSpace);
    PutBoxHeader(out, static_cast<uint32_t>(8 + codestream.size()), "jp2c");
    out.insert(out.end(), codestream.begin(), codestream.end());
    return out;
}

class CodecConformance : public ::testing::TestWithParam<ConformanceCase> {};

TEST_P(CodecConformance, MatchesOracle) {
    const ConformanceCase& c = GetParam();
    const std::string moduleName = c.module;
    if (c.testDataPath != nullptr) VEXEL_REQUIRE_TESTDATA();
    if (!HaveProgram("dcmcjpeg") || !HaveProgram("gdcmconv")) GTEST_SKIP() << "DCMTK/GDCM absent";
    std::string error;
    const auto module = CCodecModule::Load(moduleName, &error);
    ASSERT_TRUE(module) << error;
    std::string log;
    // Keys carry the module: rows of several modules share names.
    const std::string key = moduleName + "_" + c.name;
    const std::filesystem::path compressed = CompressedFile(key, c, &log);
    ASSERT_FALSE(compressed.empty()) << log;
    const std::vector<uint8_t> file = ReadFileBytes(compressed);
    const auto stream = EncapsulatedFrame(file);
    ASSERT_TRUE(stream && !stream->empty()) << compressed << ": no encapsulated frame";
    auto shape = ReadImageShape(file);
    ASSERT_TRUE(shape) << compressed;

    const std::vector<uint8_t> oracle = OracleBytes(key, c, compressed, &*shape, &log);
    ASSERT_FALSE(oracle.empty()) << compressed << ": oracle failed: " << log;
    const DecodeResult result =
        c.jp2ColourSpace == 0
            ? module->Decode(*stream, shape->rows, shape->columns, shape->samplesPerPixel, c.colour)
            : module->Decode(WrapInJp2(*stream, *shape, c.jp2ColourSpace), shape->rows,
                             shape->columns, shape->samplesPerPixel, kNone);
    ASSERT_EQ(result.status, VEXEL_CODEC_OK) << compressed;
    ASSERT_TRUE(result.guardIntact) << compressed;
    if (c.precision != 0) {
        EXPECT_EQ(result.request.streamPrecision, uint32_t(c.precision));
    }

    const std::vector<int32_t> expected =
        NormalisedSamples(oracle, *shape, shape->bitsAllocated > 8);
    ImageShape outputShape = *shape;
    outputShape.planarConfiguration = 0;  // decoded colour is always interleaved
    const std::vector<int32_t> actual =
        NormalisedSamples(result.output, outputShape, shape->samplesPerPixel == 1);
    Compare(expected, actual, *shape, c, compressed.string());
}

INSTANTIATE_TEST_SUITE_P(Rows, CodecConformance, ::testing::ValuesIn(kCases), [](const auto& row) {
    return std::string(row.param.module) + "_" + row.param.name;
});


namespace fs = std::filesystem;

// CompressJPEG writes a file that DCMTK reads back (wrapped by img2dcm, decoded by
// dcmdjpeg) close to the input; ReadJPEGsize reports its size.
TEST(Jpeg1Encoder, WritesBaselineFileThatDcmtkDecodes) {
    if (!HaveProgram("img2dcm") || !HaveProgram("dcmdjpeg")) GTEST_SKIP() << "DCMTK absent";
    std::string error;
    const auto module = CCodecModule::Load("jpeg1", &error);
    ASSERT_TRUE(module) << error;
    const auto compress = reinterpret_cast<decltype(&CompressJPEG)>(module->Symbol("CompressJPEG"));
    const auto readSize = reinterpret_cast<decltype(&ReadJPEGsize)>(module->Symbol("ReadJPEGsize"));
    ASSERT_TRUE(compress && readSize);

    constexpr int kWidth = 70;
    constexpr int kHeight = 45;
    std::vector<uint8_t> rgb;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x)
            rgb.insert(rgb.end(),
                       {uint8_t(x * 255 / (kWidth - 1)), uint8_t(y * 255 / (kHeight - 1)),
                        uint8_t(128 + 100 * std::sin(x * 0.1))});
    }
    const fs::path dir = ScratchDir("jpeg1-encoder");
    const fs::path jpeg = dir / "Ünïcode name.jpg";
    ASSERT_EQ(compress(rgb.data(), kWidth, kHeight, 95, jpeg.c_str()), VEXEL_CODEC_OK);
    const std::vector<uint8_t> bytes = ReadFileBytes(jpeg);
    int32_t width = 0, height = 0;
    ASSERT_EQ(readSize(bytes.data(), static_cast<uint32_t>(bytes.size()), &width, &height),
              VEXEL_CODEC_OK);
    EXPECT_EQ(std::make_pair(width, height), std::make_pair(kWidth, kHeight));
    EXPECT_EQ(readSize(bytes.data(), 3, &width, &height), VEXEL_CODEC_CORRUPT);

    fs::copy_file(jpeg, dir / "plain.jpg");
    std::string log;
    const fs::path decoded =
        ConvertOnce("jpeg1_encoder", "img2dcm {in} {out}.jpeg.dcm && dcmdjpeg {out}.jpeg.dcm {out}",
                    dir / "plain.jpg", &log);
    ASSERT_FALSE(decoded.empty()) << log;
    const auto pixels = NativePixelData(ReadFileBytes(decoded));
    ASSERT_TRUE(pixels);
    ASSERT_EQ(pixels->size(), rgb.size());
    double total = 0;
    for (size_t i = 0; i < rgb.size(); ++i) {
        total += std::abs(int{rgb[i]} - int{(*pixels)[i]});
        ASSERT_LE(std::abs(int{rgb[i]} - int{(*pixels)[i]}), 24) << "sample " << i;
    }
    EXPECT_LT(total / static_cast<double>(rgb.size()), 2.0);

    EXPECT_EQ(compress(rgb.data(), kWidth, kHeight, 95, (dir / "no/such/dir.jpg").c_str()),
              VEXEL_CODEC_BAD_ARGUMENT);
    EXPECT_EQ(compress(rgb.data(), 0, kHeight, 95, jpeg.c_str()), VEXEL_CODEC_BAD_ARGUMENT);
}


// What a case hands to the module: a valid stream and its exact frame, then mutated.
struct MalformedRequest {
    std::vector<uint8_t> bytes;
    uint32_t rows, columns, components, colour;
    uint64_t capacity;
};

struct MalformedCase {
    const char* name;
    int32_t expected;                   // status; kAnyStatus for data damage
    bool colour;                        // from the colour stream instead of the greyscale one
    void (*mutate)(MalformedRequest&);  // null: a check of the entry points themselves
};
inline constexpr int32_t kAnyStatus = 1;

struct StreamSource {
    PhantomImage image;
    const char* encodeCommand;
    const char* key;
};

using Request = MalformedRequest;

// DecompressJPEGEx refuses a null output and a short struct; DecompressJPEG decodes what
// DecompressJPEGEx decodes.
void CheckEntryPoints(const CCodecModule& module, Request& r, const MalformedCase& c) {
    const std::string_view name = c.name;
    std::vector<uint8_t> output(r.capacity);
    if (name == "original_entry_point") {
        const DecodeResult checked =
            module.Decode(r.bytes, r.rows, r.columns, r.components, r.colour, r.capacity);
        ASSERT_EQ(checked.status, VEXEL_CODEC_OK);
        const auto decode = reinterpret_cast<int32_t (*)(const uint8_t*, uint32_t, uint8_t*)>(
            module.Symbol("DecompressJPEG"));
        ASSERT_NE(decode, nullptr);
        EXPECT_EQ(decode(r.bytes.data(), uint32_t(r.bytes.size()), output.data()), c.expected);
        EXPECT_EQ(output, checked.output);
        return;
    }
    VexelDecodeRequest request{};
    request.structSize = sizeof(VexelDecodeRequest) - (name == "short_struct_size" ? 4 : 0);
    request.data = r.bytes.data();
    request.size = r.bytes.size();
    request.output = name == "null_output" ? nullptr : output.data();
    request.capacity = r.capacity;
    const auto decodeEx =
        reinterpret_cast<int32_t (*)(VexelDecodeRequest*)>(module.Symbol("DecompressJPEGEx"));
    EXPECT_EQ(decodeEx(&request), c.expected);
    EXPECT_EQ(decodeEx(nullptr), VEXEL_CODEC_BAD_ARGUMENT);
}

std::vector<MalformedCase> MalformedCases() {
    return {
        {"truncated_half", VEXEL_CODEC_CORRUPT, false,
         [](Request& r) { r.bytes.resize(r.bytes.size() / 2); }},
        {"header_only", VEXEL_CODEC_CORRUPT, false, [](Request& r) { r.bytes.resize(40); }},
        {"garbage", VEXEL_CODEC_CORRUPT, false,
         [](Request& r) { std::fill(r.bytes.begin(), r.bytes.end(), uint8_t{0x5A}); }},
        {"empty", VEXEL_CODEC_CORRUPT, false, [](Request& r) { r.bytes.clear(); }},
        // Bytes flipped inside the coded data: any status, but safe.
        {"corrupted_middle", kAnyStatus, false,
         [](Request& r) {
             for (size_t i = r.bytes.size() / 3; i < r.bytes.size() / 3 + 64; ++i)
                 r.bytes[i] ^= 0xFF;
         }},
        {"rows_plus_one", VEXEL_CODEC_SIZE_MISMATCH, false, [](Request& r) { ++r.rows; }},
        {"columns_minus_one", VEXEL_CODEC_SIZE_MISMATCH, false, [](Request& r) { --r.columns; }},
        // Three components expected from a greyscale stream.
        {"components_differ", VEXEL_CODEC_SIZE_MISMATCH, false,
         [](Request& r) { r.components = 3; }},
        {"capacity_short_by_one", VEXEL_CODEC_OUTPUT_TOO_SMALL, false,
         [](Request& r) { --r.capacity; }},
        {"colour_capacity_short", VEXEL_CODEC_OUTPUT_TOO_SMALL, true,
         [](Request& r) { --r.capacity; }},
        {"null_output", VEXEL_CODEC_BAD_ARGUMENT, false, nullptr},
        {"short_struct_size", VEXEL_CODEC_BAD_ARGUMENT, false, nullptr},
        {"original_entry_point", VEXEL_CODEC_OK, false, nullptr},
    };
}

void RunMalformedCase(const char* moduleName, const StreamSource& grey, const StreamSource& colour,
                      const MalformedCase& c) {
    std::string error;
    const auto module = CCodecModule::Load(moduleName, &error);
    ASSERT_TRUE(module) << error;
    const StreamSource& source = c.colour ? colour : grey;
    const auto path =
        ConvertOnce(source.key, source.encodeCommand, PhantomSource(source.image), &error);
    ASSERT_FALSE(path.empty()) << "test stream not made: " << error;
    const std::vector<uint8_t> file = ReadFileBytes(path);
    const ImageShape shape = ReadImageShape(file).value_or(ImageShape());
    Request r{EncapsulatedFrame(file).value_or(std::vector<uint8_t>()), shape.rows, shape.columns,
              shape.samplesPerPixel, uint32_t{c.colour ? VEXEL_COLOUR_RGB : VEXEL_COLOUR_UNKNOWN},
              uint64_t{shape.rows} * shape.columns * (shape.samplesPerPixel == 1 ? 2 : 3)};
    ASSERT_FALSE(r.bytes.empty()) << "no frame in " << path;
    if (c.mutate == nullptr) return CheckEntryPoints(*module, r, c);
    c.mutate(r);
    r.bytes.reserve(1);  // an empty vector has no data pointer to hand over
    const DecodeResult result =
        module->Decode(r.bytes, r.rows, r.columns, r.components, r.colour, r.capacity);
    EXPECT_TRUE(c.expected == kAnyStatus || result.status == c.expected) << result.status;
    EXPECT_TRUE(result.guardIntact) << "written past the output buffer";
    if (c.expected == VEXEL_CODEC_SIZE_MISMATCH || c.expected == VEXEL_CODEC_OUTPUT_TOO_SMALL) {
        EXPECT_EQ(std::count(result.output.begin(), result.output.end(), 0), long(result.output.size()))
            << "output written before the size check";
        EXPECT_EQ(result.request.streamRows, shape.rows);
        EXPECT_EQ(result.request.streamColumns, shape.columns);
    }
}

struct ModuleStreams {
    const char* module;
    StreamSource grey;
    StreamSource colour;
};

const ModuleStreams kModules[] = {
    {"jpeg1",
     {PhantomImage::kCt, "dcmcjpeg +eb {in} {out}", "jpeg_eb_ct"},
     {PhantomImage::kRgb, "dcmcjpeg +eb {in} {out}", "jpeg_eb_rgb"}},
    {"jpeg2",
     {PhantomImage::kCt, "dcmcjpeg +e1 {in} {out}", "jpeg_sv1_ct"},
     {PhantomImage::kRgb, "dcmcjpeg +e1 {in} {out}", "jpeg_sv1_rgb"}},
    {"jpeg3",
     {PhantomImage::kCt, "dcmcjpeg +ee {in} {out}", "jpeg_ee_ct"},
     {PhantomImage::kRgb, "dcmcjpeg +ee +bt {in} {out}", "jpeg_ee_rgb"}},
    {"jpeg4",
     {PhantomImage::kCt, "dcmcjpls {in} {out}", "jls_ct"},
     {PhantomImage::kRgb, "dcmcjpls +in {in} {out}", "jls_rgb"}},
    {"jpeg2000",
     {PhantomImage::kCt, "gdcmconv --j2k {in} {out}", "j2k_ct"},
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


// JPEG-LS without an end-of-image marker (CharLS 2.4 spun for seconds), JPEG 2000 whose SIZ
// asks for far more tiles than its bytes hold (OpenJPEG 2.5 set up every tile).
TEST(FuzzFoundStreams, FailAsCorruptAtOnce) {
    const std::pair<const char*, const char*> folders[] = {{"jpeg4", "jpegls"},
                                                           {"jpeg2000", "j2k"}};
    int files = 0;
    for (const auto& [moduleName, folder] : folders) {
        std::string error;
        const auto module = CCodecModule::Load(moduleName, &error);
        ASSERT_NE(module, nullptr) << error;
        for (const auto& entry :
             std::filesystem::directory_iterator(SourceDir() / "tests" / "data" / folder)) {
            SCOPED_TRACE(entry.path().filename().string());
            const auto start = std::chrono::steady_clock::now();
            const DecodeResult result = module->Decode(ReadFileBytes(entry.path()), 0, 0, 0,
                                                       VEXEL_COLOUR_UNKNOWN, 1u << 20);
            const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
            EXPECT_EQ(result.status, VEXEL_CODEC_CORRUPT);
            EXPECT_TRUE(result.guardIntact);
            // A generous bound: the fault took seconds, a healthy failure takes microseconds.
            EXPECT_LT(seconds.count(), 2.0);
            ++files;
        }
    }
    EXPECT_EQ(files, 6);
}

}  // namespace
}  // namespace vexel::test
