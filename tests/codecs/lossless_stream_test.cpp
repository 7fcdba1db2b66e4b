// The lossless decoder of jpeg1, jpeg2 and jpeg3 on streams of a plain encoder here, for what
// DCMTK's never writes: restart intervals, separate scans, point transforms on chosen data,
// long Huffman codes, precision 2, the difference 32768; then malformed lossless streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "codec_module.h"

namespace vexel::test {
namespace {

struct LosslessEncodeOptions {
    int precision = 16;
    int predictor = 1;
    int pointTransform = 0;      // samples must already be multiples of 2^pt
    int restartRows = 0;         // restart interval in whole rows, 0 for none
    bool separateScans = false;  // one scan per component instead of one interleaved scan
    bool longCodes = false;      // every non-zero category gets a 16-bit code
};

// Bits into bytes, most significant first, with a zero byte stuffed after every 0xFF.
struct BitWriter {
    std::vector<uint8_t>& out;
    uint8_t byte = 0;
    int bits = 0;
    void Put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            byte = static_cast<uint8_t>(byte << 1 | ((value >> i) & 1));
            if (++bits < 8) continue;
            out.push_back(byte);
            if (byte == 0xFF) out.push_back(0x00);
            byte = 0, bits = 0;
        }
    }
    void Align() {  // pads the last byte with one bits
        while (bits != 0)
            Put(1, 1);
    }
};

// Categories 0..16. Short codes: every category 5 bits, code = category. Long: category 0 is
// "0", the others 16-bit codes "1000000000000000" + (category - 1).
void PutDifference(BitWriter& writer, int difference, bool longCodes) {
    int d = difference & 0xFFFF;  // modulo 2^16, then into -32767 .. 32768
    if (d > 32768) d -= 65536;
    int category = 0;
    for (int magnitude = std::abs(d); magnitude != 0; magnitude >>= 1)
        ++category;
    if (!longCodes) writer.Put(uint32_t(category), 5);
    if (longCodes) writer.Put(category == 0 ? 0 : 0x8000u + uint32_t(category - 1), category ? 16 : 1);
    if (category == 0 || category == 16) return;  // 32768 has no extra bits (H.1.2.2)
    const int extra = d > 0 ? d : d - 1;
    writer.Put(static_cast<uint32_t>(extra) & ((1u << category) - 1), category);
}

void Marker(std::vector<uint8_t>& out, uint8_t code) {
    out.insert(out.end(), {0xFF, code});
}
void Put16(std::vector<uint8_t>& out, int v) {
    out.insert(out.end(), {uint8_t(v >> 8), uint8_t(v)});
}

void EncodeScan(std::vector<uint8_t>& out, const std::vector<uint16_t>& samples, int rows,
                int columns, const std::vector<int>& components, const LosslessEncodeOptions& o) {
    const size_t plane = static_cast<size_t>(rows) * columns;
    const int pt = o.pointTransform;
    auto at = [&](int c, int y, int x) { return samples[plane * c + y * columns + x] >> pt; };
    BitWriter writer{out};
    int restartIndex = 0;
    for (int y = 0; y < rows; ++y) {
        const bool interval = o.restartRows > 0 && y % o.restartRows == 0;
        if (interval && y != 0) {
            writer.Align();
            Marker(out, static_cast<uint8_t>(0xD0 + (restartIndex++ & 7)));
        }
        for (int x = 0; x < columns; ++x) {
            for (int c : components) {
                // The seven predictors of the lossless process; the first row of each restart
                // interval predicts from the left, the first column from above.
                const int ra = x ? at(c, y, x - 1) : 0, rb = y ? at(c, y - 1, x) : 0,
                          rc = x && y ? at(c, y - 1, x - 1) : 0;
                const int predictions[] = {0, ra, rb, rc, ra + rb - rc, ra + ((rb - rc) >> 1),
                                           rb + ((ra - rc) >> 1), (ra + rb) >> 1};
                const int prediction = y == 0 || interval ? (x ? ra : 1 << (o.precision - pt - 1))
                                       : x == 0           ? rb
                                                          : predictions[o.predictor];
                PutDifference(writer, at(c, y, x) - prediction, o.longCodes);
            }
        }
    }
    writer.Align();
}

std::vector<uint8_t> EncodeLosslessJpeg(const std::vector<uint16_t>& samples, int rows, int columns,
                                        int components, const LosslessEncodeOptions& o) {
    std::vector<uint8_t> out;
    Marker(out, 0xD8);
    Marker(out, 0xC4);  // one table for every component: the counts of codes by length
    Put16(out, 2 + 17 + 17);
    out.push_back(0x00);
    for (int length = 1; length <= 16; ++length)
        out.push_back(o.longCodes ? (length == 1 ? 1 : length == 16 ? 16 : 0) : (length == 5 ? 17 : 0));
    for (int category = 0; category <= 16; ++category)
        out.push_back(static_cast<uint8_t>(category));
    if (o.restartRows > 0) {
        Marker(out, 0xDD);
        Put16(out, 4);
        Put16(out, o.restartRows * columns);
    }
    Marker(out, 0xC3);
    Put16(out, 8 + 3 * components);
    out.push_back(static_cast<uint8_t>(o.precision));
    Put16(out, rows), Put16(out, columns);
    out.push_back(static_cast<uint8_t>(components));
    for (int c = 0; c < components; ++c)
        out.insert(out.end(), {uint8_t(c + 1), 0x11, 0x00});
    std::vector<std::vector<int>> scans(o.separateScans ? components : 1);
    for (int c = 0; c < components; ++c)
        scans[o.separateScans ? c : 0].push_back(c);
    for (const auto& scan : scans) {
        Marker(out, 0xDA);
        Put16(out, 6 + 2 * static_cast<int>(scan.size()));
        out.push_back(static_cast<uint8_t>(scan.size()));
        for (int c : scan)
            out.insert(out.end(), {uint8_t(c + 1), 0x00});
        out.insert(out.end(), {uint8_t(o.predictor), 0x00, uint8_t(o.pointTransform)});
        EncodeScan(out, samples, rows, columns, scan, o);
    }
    Marker(out, 0xD9);
    return out;
}

struct StreamCase {
    const char* name;
    int rows;
    int columns;
    int components;
    LosslessEncodeOptions options;
};

const StreamCase kStreams[] = {
    {"p16_sv4_restart_each_row", 20, 31, 1, {16, 4, 0, 1, false, false}},
    {"p16_sv7_restart_3_rows", 20, 31, 1, {16, 7, 0, 3, false, false}},
    {"p16_sv5_long_codes", 17, 29, 1, {16, 5, 0, 0, false, true}},
    {"p16_sv6_point_transform_4", 16, 16, 1, {16, 6, 4, 0, false, false}},
    {"p12_sv2", 9, 65, 1, {12, 2, 0, 2, false, false}},
    {"p2_sv3", 12, 12, 1, {2, 3, 0, 0, false, false}},
    {"p8_sv7_separate_scans_rgb", 15, 21, 3, {8, 7, 0, 4, true, false}},
    {"p16_sv4_rgb_restart", 10, 11, 3, {16, 4, 0, 2, false, true}},
};

// Deterministic noise over the full range of the precision, with runs of extremes that
// force the largest differences (category 16 included for 16 bits).
std::vector<uint16_t> TestImage(const StreamCase& c) {
    const int bits = c.options.precision;
    const uint32_t mask = (1u << bits) - 1;
    std::vector<uint16_t> samples(size_t(c.rows) * c.columns * c.components);
    uint32_t state = 12345;
    for (size_t i = 0; i < samples.size(); ++i) {
        state = state * 1103515245u + 12345u;
        uint32_t v = (state >> 8) & mask;
        if (i % 7 == 3) v = (i / 7) % 2 ? mask : 0;
        samples[i] =
            static_cast<uint16_t>(v >> c.options.pointTransform << c.options.pointTransform);
    }
    samples[0] = 0;  // 16 bits: 0 - 32768 is the difference 32768
    return samples;
}

// The modules' layout: one component as words; three as interleaved bytes >> (P - 8).
std::vector<uint8_t> ExpectedOutput(const StreamCase& c, const std::vector<uint16_t>& samples) {
    const size_t pixels = size_t(c.rows) * c.columns;
    std::vector<uint8_t> out(pixels * 2);
    if (c.components == 1) return std::memcpy(out.data(), samples.data(), out.size()), out;
    const int shift = c.options.precision > 8 ? c.options.precision - 8 : 0;
    out.clear();
    for (size_t i = 0; i < pixels * 3; ++i)
        out.push_back(uint8_t(samples[i % 3 * pixels + i / 3] >> shift));
    return out;
}

class LosslessStreamTest : public ::testing::TestWithParam<std::tuple<const char*, StreamCase>> {};

TEST_P(LosslessStreamTest, DecodesTheEncodedImage) {
    const auto& [moduleName, c] = GetParam();
    std::string error;
    const auto module = CCodecModule::Load(moduleName, &error);
    ASSERT_TRUE(module) << error;
    const std::vector<uint16_t> samples = TestImage(c);
    const auto stream = EncodeLosslessJpeg(samples, c.rows, c.columns, c.components, c.options);
    const uint32_t colour = c.components == 3 ? VEXEL_COLOUR_RGB : VEXEL_COLOUR_UNKNOWN;
    const DecodeResult result = module->Decode(stream, uint32_t(c.rows), uint32_t(c.columns),
                                               uint32_t(c.components), colour);
    ASSERT_EQ(result.status, VEXEL_CODEC_OK) << c.name;
    EXPECT_TRUE(result.guardIntact);
    EXPECT_EQ(result.request.streamPrecision, uint32_t(c.options.precision));
    const std::vector<uint8_t> expected = ExpectedOutput(c, samples);
    const auto [first, _] = std::mismatch(expected.begin(), expected.end(), result.output.begin(),
                                          result.output.end());
    EXPECT_EQ(first - expected.begin(), expected.end() - expected.begin()) << "first differing byte";
}

// Test names: module and case.
auto CaseName = [](const auto& info) {
    return std::string(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
};
const auto kLosslessModules = ::testing::Values("jpeg1", "jpeg2", "jpeg3");
INSTANTIATE_TEST_SUITE_P(Streams, LosslessStreamTest,
                         ::testing::Combine(kLosslessModules, ::testing::ValuesIn(kStreams)),
                         CaseName);

// Malformed streams and requests, built from one small valid stream.
constexpr int kRows = 24;
constexpr int kColumns = 40;
constexpr uint64_t kFrameBytes = uint64_t{kRows} * kColumns * 2;
using Stream = std::vector<uint8_t>;

size_t Find(const Stream& s, uint8_t marker) {
    for (size_t i = 0; i + 1 < s.size(); ++i)
        if (s[i] == 0xFF && s[i + 1] == marker) return i;
    return s.size();
}

struct BadCase {
    const char* name;
    void (*mutate)(Stream&);
    int32_t status = VEXEL_CODEC_CORRUPT;
    uint32_t rows = kRows;  // expected by the request
    uint64_t capacity = kFrameBytes;
};

void Same(Stream&) {}
void RowsDoubled(Stream& s) {
    s[Find(s, 0xC3) + 6] = kRows * 2;
}

const BadCase kBadCases[] = {
    {"valid", Same, VEXEL_CODEC_OK},
    {"no_soi", [](Stream& s) { s[1] = 0xD9; }},
    // BITS claim 17 codes of length 2: more than two bits can hold.
    {"overfull_huffman_table",
     [](Stream& s) { std::swap(s[Find(s, 0xC4) + 6], s[Find(s, 0xC4) + 9]); }},
    // A symbol above 16 has no meaning in a lossless table.
    {"huffman_symbol_17", [](Stream& s) { s[Find(s, 0xC4) + 5 + 16 + 3] = 17; }},
    // The scan refers to table 1, which was never defined.
    {"missing_huffman_table", [](Stream& s) { s[Find(s, 0xDA) + 6] = 0x10; }},
    {"predictor_0", [](Stream& s) { s[Find(s, 0xDA) + 7] = 0; }},
    // Pt 13 of a 12-bit frame leaves no bits to code.
    {"point_transform_13_of_12_bits",
     [](Stream& s) { s[Find(s, 0xC3) + 4] = 12, s[Find(s, 0xDA) + 9] = 13; }},
    // Ah is 0 outside progressive DCT.
    {"ah_not_zero", [](Stream& s) { s[Find(s, 0xDA) + 9] = 0x10; }},
    // Codes 17 .. 31 of length 5 are not in the table (all ones after the scan header).
    {"unknown_huffman_code",
     [](Stream& s) { std::fill_n(s.begin() + long(Find(s, 0xDA) + 10), 8, uint8_t{0xFE}); }},
    // RST3 where RST0 belongs.
    {"wrong_restart_marker", [](Stream& s) { s[Find(s, 0xD0) + 1] = 0xD3; }},
    {"second_frame_header",
     [](Stream& s) {
         const Stream sof(s.begin() + long(Find(s, 0xC3)), s.begin() + long(Find(s, 0xC3) + 11));
         s.insert(s.begin() + long(Find(s, 0xDA)), sof.begin(), sof.end());
     }},
    {"sof_bigger_than_request", RowsDoubled, VEXEL_CODEC_SIZE_MISMATCH},
    {"sof_bigger_unknown_rows", RowsDoubled, VEXEL_CODEC_OUTPUT_TOO_SMALL, 0},
    {"capacity_zero", Same, VEXEL_CODEC_OUTPUT_TOO_SMALL, 0, 0},
};

class LosslessMalformedTest : public ::testing::TestWithParam<std::tuple<const char*, BadCase>> {};

TEST_P(LosslessMalformedTest, FailsWithStatedStatus) {
    const auto& [moduleName, c] = GetParam();
    std::string error;
    const auto module = CCodecModule::Load(moduleName, &error);
    ASSERT_TRUE(module) << error;
    StreamCase base{"base", kRows, kColumns, 1, {16, 1, 0, 6, false, false}};
    Stream stream = EncodeLosslessJpeg(TestImage(base), kRows, kColumns, 1, base.options);
    c.mutate(stream);
    const DecodeResult result = module->Decode(stream, c.rows, kColumns, 1, 0, c.capacity);
    EXPECT_EQ(result.status, c.status) << c.name;
    EXPECT_TRUE(result.guardIntact) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Streams, LosslessMalformedTest,
                         ::testing::Combine(kLosslessModules, ::testing::ValuesIn(kBadCases)),
                         CaseName);

}  // namespace
}  // namespace vexel::test
