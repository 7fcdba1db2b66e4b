// Frames of a million pixels and more go through OpenJPEG's thread pool in the jpeg2000
// module: the result must be what one thread gives, i.e. the phantom's own samples for a
// reversible stream and GDCM's decode (OpenJPEG on one thread) for an irreversible one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "codec_module.h"
#include "common/test_paths.h"
#include "dicom_pixel_bytes.h"
#include "phantom/phantom_writer.h"
#include "phantom_streams.h"

namespace vexel::test {
namespace {

constexpr int kColumns = 1280;  // 1.2 million pixels, not square
constexpr int kRows = 960;

struct LargeCase {
    const char* name;
    const char* encode;  // {in} -> {out}
    bool againstSource;  // else against gdcmconv --raw of the encoded file
};

const LargeCase kCases[] = {
    {"Reversible", "gdcmconv --j2k {in} {out}", true},
    {"Irreversible", "gdcmconv --j2k --lossy --irreversible -q 40 {in} {out}", false},
};

phantom::PhantomOptions LargeOptions() {
    phantom::PhantomOptions options;
    options.columns = kColumns;
    options.rows = kRows;
    options.slices = 1;
    // One thick slice and fine pixels: the phantom scales to fill the frame.
    options.pixelSpacingMm = 0.1;
    options.sliceSpacingMm = 99;
    return options;
}

std::filesystem::path LargeCtFile() {
    static const std::filesystem::path file = [] {
        const auto dir = ScratchDir("j2k-large") / "ct";
        std::string error;
        EXPECT_TRUE(phantom::WriteCtSeries(dir, LargeOptions(), &error)) << error;
        return dir / "CT0001.dcm";
    }();
    return file;
}

class Jpeg2000LargeFrame : public ::testing::TestWithParam<LargeCase> {};

TEST_P(Jpeg2000LargeFrame, SameAsOneThread) {
    if (!HaveProgram("gdcmconv")) GTEST_SKIP() << "gdcmconv not found";
    const LargeCase& c = GetParam();
    std::string error;
    const auto module = CCodecModule::Load("jpeg2000", &error);
    ASSERT_TRUE(module) << error;
    const auto encoded =
        ConvertOnce(std::string("j2k_large_") + c.name, c.encode, LargeCtFile(), &error);
    ASSERT_FALSE(encoded.empty()) << error;
    const auto stream = EncapsulatedFrame(ReadFileBytes(encoded));
    ASSERT_TRUE(stream);

    std::vector<uint8_t> expected;
    if (c.againstSource) {
        const std::vector<int16_t> stored = phantom::CtSliceStored(LargeOptions(), 0);
        expected.resize(stored.size() * 2);
        std::memcpy(expected.data(), stored.data(), expected.size());
    } else {
        const auto raw = ConvertOnce(std::string("j2k_large_raw_") + c.name,
                                     "gdcmconv --raw {in} {out}", encoded, &error);
        ASSERT_FALSE(raw.empty()) << error;
        expected = NativePixelData(ReadFileBytes(raw)).value_or(std::vector<uint8_t>());
    }
    ASSERT_EQ(expected.size(), size_t{kColumns} * kRows * 2);

    const DecodeResult result = module->Decode(*stream, kRows, kColumns, 1, VEXEL_COLOUR_UNKNOWN);
    ASSERT_EQ(result.status, VEXEL_CODEC_OK);
    ASSERT_TRUE(result.guardIntact);
    const auto differ = std::mismatch(expected.begin(), expected.end(), result.output.begin());
    const size_t at = size_t(differ.first - expected.begin()) / 2;
    EXPECT_EQ(differ.first, expected.end()) << "row " << at / kColumns << ", column " << at % kColumns;
}

INSTANTIATE_TEST_SUITE_P(Streams, Jpeg2000LargeFrame, ::testing::ValuesIn(kCases),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vexel::test
