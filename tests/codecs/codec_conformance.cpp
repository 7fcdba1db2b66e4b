#include "codec_conformance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "codec_module.h"
#include "common/test_paths.h"
#include "dicom_pixel_bytes.h"

namespace vexel::test {
namespace {

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
                const size_t at = width * (shape.planarConfiguration == 1 ? c * pixels + i : i * 3 + c);
                samples[i * 3 + c] = (width == 2 ? bytes[at] | bytes[at + 1] << 8 : bytes[at]) >> shift;
            }
        }
        return samples;
    }
    const int bits = shape.bitsStored;
    samples.resize(pixels);
    for (size_t i = 0; i < pixels; ++i) {
        uint32_t value = 0;
        if (wordsPerSample && bytes.size() >= 2 * pixels) {
            uint16_t word;
            std::memcpy(&word, &bytes[2 * i], 2);
            value = word;
        } else if (!wordsPerSample && bytes.size() >= pixels) {
            value = bytes[i];
        }
        value &= (bits >= 32 ? ~0u : (1u << bits) - 1);
        int32_t sample = static_cast<int32_t>(value);
        if (shape.pixelRepresentation == 1 && bits < 32 && (value >> (bits - 1)) != 0)
            sample -= int32_t{1} << bits;
        samples[i] = sample;
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
        if (std::abs(difference) > c.maxDifference) {
            const size_t pixel = i / channels;
            FAIL() << file << ": first difference at row " << pixel / shape.columns << ", column "
                   << pixel % shape.columns << ", sample " << i % channels << ": decoded "
                   << actual[i] << ", expected " << expected[i];
        }
    }
    const double mean = sum / static_cast<double>(expected.size());
    EXPECT_LE(std::abs(mean), c.maxMeanDifference) << file << ": mean difference " << mean;
}

std::filesystem::path CompressedFile(const std::string& key, const ConformanceCase& c,
                                     std::string* log) {
    if (c.testDataPath != nullptr) return TestDataDir() / c.testDataPath;
    const std::filesystem::path source = PhantomSource(c.phantom);
    if (source.empty()) {
        *log = "phantom not written";
        return {};
    }
    return ConvertOnce(key + ".encoded", c.encodeCommand, source, log);
}

std::vector<uint8_t> OracleBytes(const std::string& key, const ConformanceCase& c,
                                 const std::filesystem::path& compressed, ImageShape* shape,
                                 std::string* log) {
    if (c.oracle == Oracle::kPpm) {
        const auto ppm = ConvertOnce(key + ".ppm", c.oracleCommand, compressed, log);
        shape->planarConfiguration = 0;
        return ppm.empty() ? std::vector<uint8_t>() : ReadPpm(ppm).value_or(std::vector<uint8_t>());
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

}  // namespace

void RunConformanceCase(const std::string& moduleName, const ConformanceCase& c) {
    if (c.testDataPath != nullptr) VEXEL_REQUIRE_TESTDATA();
    std::string error;
    const auto module = CCodecModule::Load(moduleName, &error);
    ASSERT_TRUE(module) << error;
    std::string log;
    // Keys carry the module: both tables have rows of the same name.
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
        module->Decode(*stream, shape->rows, shape->columns, shape->samplesPerPixel, c.colour);
    ASSERT_EQ(result.status, VEXEL_CODEC_OK) << compressed;
    ASSERT_TRUE(result.guardIntact) << compressed;
    if (c.precision != 0) {
        EXPECT_EQ(result.request.streamPrecision, uint32_t(c.precision));
    }

    const std::vector<int32_t> expected =
        NormalisedSamples(oracle, *shape, shape->bitsAllocated > 8);
    ImageShape outputShape = *shape;
    outputShape.planarConfiguration = 0;  // decoded colour is always interleaved
    const std::vector<int32_t> actual = NormalisedSamples(result.output, outputShape, shape->samplesPerPixel == 1);
    Compare(expected, actual, *shape, c, compressed.string());
}

}  // namespace vexel::test
