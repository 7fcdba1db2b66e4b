// Every codec module against one table of bad streams and bad requests, on streams DCMTK and
// GDCM made from the phantom: each is refused with a stated status, never writing past the
// output buffer. Then streams that once hung or crawled in a codec library must fail as
// corrupt at once: JPEG-LS without an end-of-image marker (CharLS 2.4 spun for seconds), JPEG
// 2000 whose SIZ asks for far more tiles than its bytes hold (OpenJPEG 2.5 set up every tile).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include "codec_module.h"
#include "common/test_paths.h"
#include "vexel_codec.h"

namespace vexel::test {
namespace {

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
