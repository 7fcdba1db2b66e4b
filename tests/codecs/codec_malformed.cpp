#include "codec_malformed.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "codec_module.h"
#include "dicom_pixel_bytes.h"
#include "vexel_codec.h"

namespace vexel::test {
namespace {

using DecodeExFunction = int32_t (*)(VexelDecodeRequest*);
using DecodeFunction = int32_t (*)(const uint8_t*, uint32_t, uint8_t*);

struct Expectation {
    uint32_t rows;
    uint32_t columns;
    uint32_t components;
    uint32_t colour;
    uint64_t capacity;
};

uint64_t FrameBytes(uint32_t rows, uint32_t columns, uint32_t components) {
    return uint64_t{rows} * columns * (components == 1 ? 2 : 3);
}

DecodeResult DecodeAs(const CCodecModule& module, const std::vector<uint8_t>& bytes,
                      const Expectation& e) {
    return module.Decode(bytes, e.rows, e.columns, e.components, e.colour, e.capacity);
}

struct SourceStream {
    std::vector<uint8_t> bytes;
    ImageShape shape;
};

SourceStream LoadStream(const StreamSource& source) {
    SourceStream result;
    std::string log;
    const auto path =
        ConvertOnce(source.key, source.encodeCommand, PhantomSource(source.image), &log);
    if (path.empty()) return result;
    const std::vector<uint8_t> file = ReadFileBytes(path);
    result.bytes = EncapsulatedFrame(file).value_or(std::vector<uint8_t>());
    result.shape = ReadImageShape(file).value_or(ImageShape());
    return result;
}

bool AllZero(const std::vector<uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

void CheckOriginalEntryPoint(const CCodecModule& module, const SourceStream& source,
                             const Expectation& expectation) {
    const DecodeResult checked = DecodeAs(module, source.bytes, expectation);
    ASSERT_EQ(checked.status, VEXEL_CODEC_OK);
    const auto decode = reinterpret_cast<DecodeFunction>(module.Symbol("DecompressJPEG"));
    ASSERT_NE(decode, nullptr);
    std::vector<uint8_t> output(checked.output.size(), 0);
    EXPECT_EQ(
        decode(source.bytes.data(), static_cast<uint32_t>(source.bytes.size()), output.data()),
        VEXEL_CODEC_OK);
    EXPECT_EQ(output, checked.output);
}

}  // namespace

std::vector<MalformedCase> MalformedCases() {
    return {
        {"truncated_half", Mutation::kTruncatedHalf, VEXEL_CODEC_CORRUPT},
        {"header_only", Mutation::kHeaderOnly, VEXEL_CODEC_CORRUPT},
        {"garbage", Mutation::kGarbage, VEXEL_CODEC_CORRUPT},
        {"empty", Mutation::kEmpty, VEXEL_CODEC_CORRUPT},
        {"corrupted_middle", Mutation::kCorruptedMiddle, kAnyStatus},
        {"rows_plus_one", Mutation::kRowsPlusOne, VEXEL_CODEC_SIZE_MISMATCH},
        {"columns_minus_one", Mutation::kColumnsMinusOne, VEXEL_CODEC_SIZE_MISMATCH},
        {"components_differ", Mutation::kComponentsDiffer, VEXEL_CODEC_SIZE_MISMATCH},
        {"capacity_short_by_one", Mutation::kCapacityShortByOne, VEXEL_CODEC_OUTPUT_TOO_SMALL},
        {"colour_capacity_short", Mutation::kColourCapacityShort, VEXEL_CODEC_OUTPUT_TOO_SMALL},
        {"null_output", Mutation::kNullOutput, VEXEL_CODEC_BAD_ARGUMENT},
        {"short_struct_size", Mutation::kShortStructSize, VEXEL_CODEC_BAD_ARGUMENT},
        {"original_entry_point", Mutation::kOriginalEntryPoint, VEXEL_CODEC_OK},
    };
}

void RunMalformedCase(const char* moduleName, const StreamSource& grey, const StreamSource& colour,
                      const MalformedCase& c) {
    std::string error;
    const auto module = CCodecModule::Load(moduleName, &error);
    ASSERT_TRUE(module) << error;
    const bool useColour = c.mutation == Mutation::kColourCapacityShort;
    SourceStream source = LoadStream(useColour ? colour : grey);
    ASSERT_FALSE(source.bytes.empty()) << "test stream not made";
    const ImageShape& shape = source.shape;
    const uint64_t frameBytes = FrameBytes(shape.rows, shape.columns, shape.samplesPerPixel);
    Expectation expectation{shape.rows, shape.columns, shape.samplesPerPixel,
                            useColour ? uint32_t{VEXEL_COLOUR_RGB} : uint32_t{VEXEL_COLOUR_UNKNOWN},
                            frameBytes};
    std::vector<uint8_t>& bytes = source.bytes;
    switch (c.mutation) {
        case Mutation::kTruncatedHalf:
            bytes.resize(bytes.size() / 2);
            break;
        case Mutation::kHeaderOnly:
            bytes.resize(std::min<size_t>(40, bytes.size()));
            break;
        case Mutation::kGarbage:
            std::fill(bytes.begin(), bytes.end(), uint8_t{0x5A});
            break;
        case Mutation::kEmpty:
            bytes.clear();
            break;
        case Mutation::kCorruptedMiddle:
            for (size_t i = bytes.size() / 3; i < bytes.size() / 3 + 64; ++i)
                bytes[i] ^= 0xFF;
            break;
        case Mutation::kRowsPlusOne:
            ++expectation.rows;
            break;
        case Mutation::kColumnsMinusOne:
            --expectation.columns;
            break;
        case Mutation::kComponentsDiffer:
            expectation.components = 3;
            break;
        case Mutation::kCapacityShortByOne:
        case Mutation::kColourCapacityShort:
            expectation.capacity = frameBytes - 1;
            break;
        case Mutation::kOriginalEntryPoint:
            CheckOriginalEntryPoint(*module, source, expectation);
            return;
        case Mutation::kNullOutput:
        case Mutation::kShortStructSize: {
            VexelDecodeRequest request{};
            request.structSize = c.mutation == Mutation::kShortStructSize
                                     ? sizeof(VexelDecodeRequest) - 4
                                     : sizeof(VexelDecodeRequest);
            std::vector<uint8_t> output(frameBytes);
            request.data = bytes.data();
            request.size = bytes.size();
            request.output = c.mutation == Mutation::kNullOutput ? nullptr : output.data();
            request.capacity = frameBytes;
            const auto decodeEx =
                reinterpret_cast<DecodeExFunction>(module->Symbol("DecompressJPEGEx"));
            EXPECT_EQ(decodeEx(&request), c.expected);
            EXPECT_EQ(decodeEx(nullptr), VEXEL_CODEC_BAD_ARGUMENT);
            return;
        }
    }
    // An empty vector has no data pointer to hand over; keep one byte of storage.
    bytes.reserve(1);
    const DecodeResult result = DecodeAs(*module, bytes, expectation);
    if (c.expected != kAnyStatus) {
        EXPECT_EQ(result.status, c.expected);
    }
    EXPECT_TRUE(result.guardIntact) << "written past the output buffer";
    if (c.expected == VEXEL_CODEC_SIZE_MISMATCH || c.expected == VEXEL_CODEC_OUTPUT_TOO_SMALL) {
        EXPECT_TRUE(AllZero(result.output)) << "output written before the size check";
        EXPECT_EQ(result.request.streamRows, shape.rows);
        EXPECT_EQ(result.request.streamColumns, shape.columns);
    }
}

}  // namespace vexel::test
