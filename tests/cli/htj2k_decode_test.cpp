// High-Throughput JPEG 2000 frames made by OpenJPH's ojph_compress from phantom pixels,
// wrapped here in DICOM files of the HTJ2K transfer syntaxes and decoded by
// `vexel decode`: lossless frames must give the source back bit for bit, the lossy one
// OpenJPH's own decode (ojph_expand) within one unit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/byte_builder.h"
#include "common/test_paths.h"
#include "phantom/phantom_writer.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;
using test::ByteBuilder;
using test::Quote;

constexpr int kColumns = 96;
constexpr int kRows = 80;

struct HtCase {
    const char* name;
    const char* uid;
    const char* options;  // ojph_compress coding options
    int tolerance;        // against the source (lossless) or ojph_expand (lossy)
};

const HtCase kCases[] = {
    {"LosslessRpcl", "1.2.840.10008.1.2.4.201", "-reversible true -prog_order RPCL", 0},
    {"Lossy", "1.2.840.10008.1.2.4.203", "-qstep 0.0002", 1},
};

phantom::PhantomOptions Options() {
    phantom::PhantomOptions options;
    options.columns = kColumns;
    options.rows = kRows;
    options.slices = 4;
    return options;
}

// A phantom CT slice with noise, so every bit plane carries data, made unsigned: OpenJPH 0.9
// codes negative samples in a way of its own that other decoders do not share.
std::vector<uint16_t> CtSource() {
    const std::vector<int16_t> stored = phantom::CtSliceStored(Options(), 1);
    std::vector<uint16_t> samples(stored.size());
    uint32_t state = 2024;
    for (size_t i = 0; i < stored.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        samples[i] = static_cast<uint16_t>(stored[i] + 2048 + static_cast<int>(state >> 28) - 8);
    }
    return samples;
}

bool WriteBytes(const fs::path& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary);
    return bool(out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size)));
}

// Explicit VR little endian file: image pixel module and one fragment with the codestream.
bool WriteDicom(const fs::path& path, const HtCase& c, std::vector<uint8_t> codestream) {
    ByteBuilder b;
    b.Preamble().Meta(c.uid);
    b.Explicit(0x0008, 0x0016, "UI", std::string("1.2.840.10008.5.1.4.1.1.7") + '\0');
    b.Explicit(0x0028, 0x0004, "CS", "MONOCHROME2 ");
    for (const auto& [element, value] : {std::pair<uint16_t, int>{0x0002, 1}, {0x0010, kRows},
                                         {0x0011, kColumns}, {0x0100, 16}, {0x0101, 16},
                                         {0x0102, 15}, {0x0103, 0}})
        b.Explicit(0x0028, element, "US", ByteBuilder::LittleU16(uint16_t(value)));
    if (codestream.size() % 2) codestream.push_back(0);
    b.ExplicitHeader(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).Item(0);
    b.Item(static_cast<uint32_t>(codestream.size())).Raw(codestream).SequenceEnd();
    return b.WriteTo(path);
}

class Htj2kDecode : public testing::TestWithParam<HtCase> {};

TEST_P(Htj2kDecode, VexelDecodeGivesTheFrame) {
    if (!test::HaveProgram("ojph_compress") || !test::HaveProgram("ojph_expand"))
        GTEST_SKIP() << "ojph_compress/ojph_expand (openjph-tools) not found; HTJ2K not tested";
    const HtCase& c = GetParam();
    const fs::path dir = test::ScratchDir(std::string("htj2k-") + c.name);
    const std::vector<uint16_t> source = CtSource();
    ASSERT_TRUE(WriteBytes(dir / "source.raw", source.data(), source.size() * 2));
    int code = 0;
    const fs::path j2c = dir / "frame.j2c";
    const std::string log = test::RunCommand(
        "ojph_compress -i " + Quote(dir / "source.raw") + " -dims '{" + std::to_string(kColumns) +
            "," + std::to_string(kRows) + "}' -num_comps 1 -signed false -bit_depth 16" +
            " -downsamp '{1,1}' -o " + Quote(j2c) + " " + c.options + " 2>&1",
        &code);
    ASSERT_EQ(code, 0) << log;
    ASSERT_TRUE(WriteDicom(dir / "frame.dcm", c, test::ReadFileBytes(j2c)));
    const fs::path decoded = dir / "decoded.pgm";
    const std::string out = test::RunCommand(test::Vexel() + " decode " + Quote(dir / "frame.dcm") +
                                                 " --out " + Quote(decoded) + " 2>&1",
                                             &code);
    ASSERT_EQ(code, 0) << out;

    std::vector<int> expected(source.begin(), source.end());
    if (c.tolerance > 0) {  // lossy: OpenJPH's decode of the same codestream
        const fs::path oracle = dir / "oracle.raw";
        const std::string expandLog = test::RunCommand(
            "ojph_expand -i " + Quote(j2c) + " -o " + Quote(oracle) + " 2>&1", &code);
        ASSERT_EQ(code, 0) << expandLog;
        const std::vector<uint8_t> bytes = test::ReadFileBytes(oracle);
        ASSERT_EQ(bytes.size(), source.size() * 2);
        for (size_t i = 0; i < source.size(); ++i)
            expected[i] = bytes[2 * i] | bytes[2 * i + 1] << 8;
    }
    const std::vector<int> actual = test::ReadNetpbm(decoded);
    ASSERT_EQ(actual.size(), expected.size()) << decoded;
    for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_LE(std::abs(actual[i] - expected[i]), c.tolerance)
            << "row " << i / kColumns << ", column " << i % kColumns;
}

INSTANTIATE_TEST_SUITE_P(Syntaxes, Htj2kDecode, testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace vexel
