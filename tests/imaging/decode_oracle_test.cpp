// Pixels against independent decoders: the shared corpus against DCMTK, GDCM and pydicom
// (oracle/manifest.jsonl), big-endian OW against its dcmconv twin, ACR-NEMA 12-bit packing
// against dcm2pnm; decoding rules on hand-made data whose right answer the standard gives.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/byte_builder.h"
#include "common/flat_json.h"
#include "common/test_paths.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "imaging/jpeg_engine.h"
#include "imaging/photometric.h"
#include "imaging/rle_decoder.h"
#include "imaging/sample_conversion.h"
#include "platform/md5.h"

namespace vexel {
namespace {

CJPEGEngine g_codecs;

struct FrameSummary {
    double minimum = 0, maximum = 0, mean = 0;
    std::string md5;
};

// Statistics of the stored values (greyscale) or of all samples (colour), and the MD5 of
// the buffer.
FrameSummary Summarise(const CDicomFrame& frame, const uint8_t* pixels, bool isSigned) {
    FrameSummary summary;
    const size_t count = size_t(frame.Columns()) * frame.Rows() * (frame.IsColour() ? 3 : 1);
    double sum = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint16_t w = frame.IsColour() ? 0 : reinterpret_cast<const uint16_t*>(pixels)[i];
        const double v = frame.IsColour() ? pixels[i] : isSigned ? double(int16_t(w)) : double(w);
        if (i == 0 || v < summary.minimum) summary.minimum = v;
        if (i == 0 || v > summary.maximum) summary.maximum = v;
        sum += v;
    }
    summary.mean = count ? sum / double(count) : 0;
    summary.md5 = CMd5::Hex(pixels, frame.BufferSize());
    return summary;
}

// The first frame as 8-bit RGB, decoded by DCMTK's dcm2pnm (empty when that fails).
std::vector<int> Dcm2PnmRgb(const std::string& path) {
    const std::filesystem::path out = test::ScratchDir("dcm2pnm") / "frame.ppm";
    test::RunCommand("dcm2pnm --write-raw-pnm '" + path + "' '" + out.string() + "' 2>/dev/null");
    return test::ReadNetpbm(out);
}

struct OracleImage {
    std::string path;
    std::map<std::string, std::string> fields;  // flattened manifest entry

    std::string Get(const std::string& key) const {
        auto it = fields.find("/" + key);
        return it == fields.end() ? std::string() : it->second;
    }
    double Number(const std::string& key) const {
        const std::string text = Get(key);
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        return text.empty() || *end ? NAN : value;
    }
    // The first decoder that produced pixels, and all digests the decoders agree on.
    std::string Reference() const {
        for (const char* decoder : {"dcmtk", "gdcm", "pydicom"})
            if (!Get(std::string("pixel/") + decoder + "/md5_frame0").empty()) return decoder;
        return {};
    }
};

void PrintTo(const OracleImage& image, std::ostream* os) {
    *os << image.path;
}

std::vector<OracleImage> LoadManifest() {
    std::vector<OracleImage> images;
    std::ifstream in(test::TestDataDir() / "oracle" / "manifest.jsonl");
    for (std::string line; std::getline(in, line);) {
        OracleImage image;
        if (!test::ReadFlatJson(line, image.fields)) continue;
        image.path = image.Get("path");
        if (image.Get("has_pixel_data") == "true" && !image.Reference().empty())
            images.push_back(std::move(image));
    }
    return images;
}

// Files whose decode is meant to differ from the oracles, and why.
const std::map<std::string, std::string> kExpectedFailures = {
    {"pydicom/test_files/MR_truncated.dcm",
     "the pixel data runs past the end of the file: the file does not load (the oracles "
     "decode the part that is there)"},
};
const std::map<std::string, std::string> kUnreliableOracles = {
    {"pydicom/test_files/rtdose_expb.dcm", "the oracles disagree on this big-endian dose"},
    {"pydicom/test_files/rtdose_expb_1frame.dcm", "the oracles disagree on this big-endian dose"},
};

class DecodeOracle : public testing::TestWithParam<OracleImage> {};

TEST_P(DecodeOracle, MatchesIndependentDecoders) {
    const OracleImage& oracle = GetParam();
    if (auto reason = kUnreliableOracles.find(oracle.path); reason != kUnreliableOracles.end()) {
        GTEST_SKIP() << reason->second;
    }
    const std::string path = (test::TestDataDir() / oracle.path).string();
    CDicomFile file;
    file.SetDeferredValues(true);
    const ReadStatus read = ReadDicomFile(file, path);
    if (auto reason = kExpectedFailures.find(oracle.path); reason != kExpectedFailures.end()) {
        std::cout << "[ NOTE ] " << oracle.path << ": " << reason->second << "\n";
        EXPECT_NE(read, ReadStatus::Ok);
        return;
    }
    ASSERT_EQ(read, ReadStatus::Ok);
    CDicomImage* image = CDicomImage::AttachTo(file, true);
    ASSERT_GT(image->FrameCount(), 0u) << DecodeStatusText(image->InitialiseStatus());
    // Decoders infer the frame count from the data when Number of Frames is unreadable.
    const double frames = std::isnan(oracle.Number("frames"))
                              ? oracle.Number("pixel/" + oracle.Reference() + "/frames_decoded")
                              : oracle.Number("frames");
    EXPECT_EQ(double(image->FrameCount()), frames);

    const std::string decoder = oracle.Reference();
    const std::string prefix = "pixel/" + decoder + "/";
    CDicomFrame* frame = image->Frame(0);
    std::vector<CDicomFrame*> holders;
    const uint8_t* pixels = frame->Pixels(&holders);
    ASSERT_NE(pixels, nullptr) << DecodeStatusText(frame->LastStatus());
    const FrameSummary ours = Summarise(*frame, pixels, image->IsSigned());
    const bool lossy = oracle.Get("lossy_transfer_syntax") == "true";
    const int bitsAllocated = int(oracle.Number("bits_allocated"));
    const bool palette = oracle.Get("photometric") == "PALETTE COLOR";

    if (palette || (image->IsColour() && bitsAllocated > 8)) {
        // The oracles digest palette indices and 16-bit colour samples; dcm2pnm shows the
        // same frame as 8-bit RGB.
        const std::vector<int> rgb = Dcm2PnmRgb(path);
        ASSERT_EQ(rgb.size(), frame->BufferSize()) << "dcm2pnm gave no comparable image";
        size_t differing = 0;
        while (differing < rgb.size() && std::abs(rgb[differing] - pixels[differing]) <= 1)
            ++differing;
        EXPECT_EQ(differing, rgb.size()) << "first difference at byte " << differing;
    } else if (!image->IsColour() && bitsAllocated == 32) {
        // 32-bit samples are shifted into 16 bits and the slope grows to match.
        const double scale = image->RescaleSlope() / file.Float(0x00281053, 1);
        EXPECT_NEAR(ours.minimum * scale, oracle.Number(prefix + "min"), scale);
        EXPECT_NEAR(ours.maximum * scale, oracle.Number(prefix + "max"), scale);
        EXPECT_NEAR(ours.mean * scale, oracle.Number(prefix + "mean"), scale);
    } else if (lossy) {
        EXPECT_NEAR(ours.minimum, oracle.Number(prefix + "min"), 2.0);
        EXPECT_NEAR(ours.maximum, oracle.Number(prefix + "max"), 2.0);
        EXPECT_NEAR(ours.mean, oracle.Number(prefix + "mean"), 0.5);
    } else {
        std::vector<std::string> accepted;
        for (const char* d : {"dcmtk", "gdcm", "pydicom"}) {
            for (const char* field : {"/rgb8_md5_frame0", "/md5_frame0"}) {
                const std::string md5 = oracle.Get(std::string("pixel/") + d + field);
                if (!md5.empty() && md5 != "null") accepted.push_back(md5);
            }
        }
        EXPECT_NE(std::find(accepted.begin(), accepted.end(), ours.md5), accepted.end())
            << "md5 " << ours.md5 << " min " << ours.minimum << " max " << ours.maximum << " mean "
            << ours.mean << "; " << decoder << ": min " << oracle.Number(prefix + "min") << " max "
            << oracle.Number(prefix + "max") << " mean " << oracle.Number(prefix + "mean");
    }
    CDicomFrame::ReleaseHolders(holders);
}

INSTANTIATE_TEST_SUITE_P(SharedCorpus, DecodeOracle, testing::ValuesIn(LoadManifest()),
                         [](const auto& row) {
                             std::string name = row.param.path;
                             for (char& c : name)
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(DecodeOracle);


using test::ByteBuilder;

struct Decoded {
    std::string error;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint8_t> overlay;
};

Decoded DecodeAll(const std::string& path) {
    Decoded out;
    CDicomFile file;
    file.SetDeferredValues(true);
    if (ReadDicomFile(file, path) != ReadStatus::Ok) return {"read fails", {}, {}};
    CDicomImage* image = CDicomImage::AttachTo(file, true);
    for (size_t f = 0; image && f < image->FrameCount(); ++f) {
        CDicomFrame* frame = image->Frame(f);
        std::vector<CDicomFrame*> holders;
        const uint8_t* pixels = frame->Pixels(&holders);
        if (pixels == nullptr) out.error = "frame " + std::to_string(f) + " does not decode";
        if (pixels) out.frames.emplace_back(pixels, pixels + frame->BufferSize());
        if (frame->HasOverlay() && f == 0) {
            const size_t bytes = (size_t(frame->OverlayColumns()) * frame->OverlayRows() + 7) / 8;
            out.overlay.assign(frame->OverlayBits(), frame->OverlayBits() + bytes);
        }
        CDicomFrame::ReleaseHolders(holders);
    }
    if (out.frames.empty() && out.error.empty()) out.error = "no frames";
    return out;
}

struct OwCase {
    const char* name;
    const char* photometric;
    uint16_t rows, columns, frames, bitsAllocated, samples;
    bool overlay;
    const char* dcmconv;  // how the big-endian twin is written
};

const OwCase kOwCases[] = {
    {"grey8_with_overlay", "MONOCHROME2", 64, 64, 1, 8, 1, true, "+tb"},
    {"palette8", "PALETTE COLOR", 64, 64, 1, 8, 1, false, "+tb"},
    {"grey8_frames_at_odd_offsets", "MONOCHROME2", 5, 5, 3, 8, 1, false, "+tb"},
    {"rgb8_odd_size", "RGB", 3, 5, 1, 8, 3, false, "+tb"},
    {"bits1_frames_at_odd_offsets", "MONOCHROME2", 8, 9, 2, 1, 1, false, "+tb"},
    {"grey8_bare_data_set", "MONOCHROME2", 64, 64, 1, 8, 1, true, "+tb -F"},
};

std::string PatternBytes(size_t count, unsigned seed) {
    std::string bytes(count + count % 2, '\0');
    for (size_t i = 0; i < count; ++i)
        bytes[i] = char((i * seed + i / 7) & 0xFF);
    return bytes;
}

ByteBuilder LittleEndianFile(const OwCase& c) {
    auto us = [](std::initializer_list<uint16_t> values) {
        std::string bytes;
        for (uint16_t v : values)
            bytes += ByteBuilder::LittleU16(v);
        return bytes;
    };
    auto text = [](std::string v) { return v.size() % 2 ? v + ' ' : v; };
    const bool palette = std::string(c.photometric) == "PALETTE COLOR";
    const size_t samples = size_t(c.rows) * c.columns * c.frames * c.samples;
    ByteBuilder b;
    b.Preamble().Meta("1.2.840.10008.1.2.1");
    b.Explicit(0x0008, 0x0016, "UI", std::string("1.2.840.10008.5.1.4.1.1.7", 26));
    b.Explicit(0x0028, 0x0002, "US", us({c.samples}));
    b.Explicit(0x0028, 0x0004, "CS", text(c.photometric));
    if (c.samples == 3) b.Explicit(0x0028, 0x0006, "US", us({0}));
    b.Explicit(0x0028, 0x0008, "IS", text(std::to_string(c.frames)));
    const uint16_t bits = c.bitsAllocated;
    for (const auto& [element, value] : {std::pair<uint16_t, uint16_t>{0x0010, c.rows},
                                         {0x0011, c.columns}, {0x0100, bits}, {0x0101, bits},
                                         {0x0102, uint16_t(bits - 1)}, {0x0103, 0}})
        b.Explicit(0x0028, element, "US", us({value}));
    for (uint16_t channel = 0; palette && channel < 3; ++channel)
        b.Explicit(0x0028, uint16_t(0x1101 + channel), "US", us({256, 0, 8}));
    // 8-bit entries packed two to a word.
    for (uint16_t channel = 0; palette && channel < 3; ++channel)
        b.Explicit(0x0028, uint16_t(0x1201 + channel), "OW", PatternBytes(256, 3 + channel));
    if (c.overlay) {
        b.Explicit(0x6000, 0x0010, "US", us({c.rows}))
            .Explicit(0x6000, 0x0011, "US", us({c.columns}));
        b.Explicit(0x6000, 0x0040, "CS", "G ").Explicit(0x6000, 0x0050, "SS", us({1, 1}));
        b.Explicit(0x6000, 0x0100, "US", us({1})).Explicit(0x6000, 0x0102, "US", us({0}));
        b.Explicit(0x6000, 0x3000, "OW", PatternBytes((size_t(c.rows) * c.columns + 7) / 8, 37));
    }
    const size_t bytes = c.bitsAllocated == 1 ? (samples + 7) / 8 : samples;
    return b.Explicit(0x7FE0, 0x0010, "OW", PatternBytes(bytes, 11));
}

TEST(BigEndianOw, NarrowSamplesPalettesAndOverlaysDecodeAsTheirLittleEndianTwin) {
    if (!test::HaveProgram("dcmconv")) GTEST_SKIP() << "dcmconv not installed";
    const auto dir = test::ScratchDir("big-endian-ow");
    for (const OwCase& c : kOwCases) {
        const std::string little = (dir / (std::string(c.name) + "_little.dcm")).string();
        const std::string big = (dir / (std::string(c.name) + "_big.dcm")).string();
        ASSERT_TRUE(LittleEndianFile(c).WriteTo(little));
        test::RunCommand(std::string("dcmconv ") + c.dcmconv + " '" + little + "' '" + big + "'");
        const Decoded expected = DecodeAll(little), actual = DecodeAll(big);
        ASSERT_EQ(expected.error + actual.error, "") << c.name;
        EXPECT_EQ(actual.frames, expected.frames) << c.name;
        EXPECT_EQ(actual.overlay, expected.overlay) << c.name;
        EXPECT_EQ(expected.overlay.empty(), !c.overlay) << c.name;
    }
}

// Stored values as dcm2pnm prints them (ASCII PGM of 12 bits: no windowing, no rescale).
std::vector<uint16_t> Dcm2PnmValues(const std::string& path) {
    std::istringstream pgm(test::RunCommand("dcm2pnm +Ma -M +opn 12 '" + path + "' 2>/dev/null"));
    std::string magic;
    size_t width = 0, height = 0, maxval = 0;
    pgm >> magic >> width >> height >> maxval;
    std::vector<uint16_t> values(width * height);
    for (uint16_t& v : values)
        pgm >> v;
    return pgm ? values : std::vector<uint16_t>{};
}

TEST(AcrNema, HeadlessFilesDecodeLikeDcm2pnm) {
    if (!test::HaveProgram("dcm2pnm")) GTEST_SKIP() << "dcm2pnm not installed";
    const auto dir = test::ScratchDir("acr-nema-pixels");
    for (const test::AcrNemaImage& image : test::kAcrNemaImages) {
        const std::string path = (dir / (std::string(image.name) + ".img")).string();
        ASSERT_TRUE(test::BuildAcrNema(image).WriteTo(path));
        const Decoded ours = DecodeAll(path);
        ASSERT_EQ(ours.error, "") << image.name;
        std::vector<uint16_t> words(ours.frames[0].size() / 2);
        std::memcpy(words.data(), ours.frames[0].data(), words.size() * 2);
        EXPECT_EQ(words, Dcm2PnmValues(path)) << image.name;
    }
}



std::string U16s(std::initializer_list<uint16_t> values) {
    std::string bytes;
    for (uint16_t v : values)
        bytes += ByteBuilder::LittleU16(v);
    return bytes;
}

// A small image file: the attributes given as explicit VR elements, then pixel data.
class ImageFile {
public:
    explicit ImageFile(std::string_view syntax = "1.2.840.10008.1.2.1") {
        m_bytes.Preamble().Meta(syntax);
        m_bytes.Explicit(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.7");
    }
    ImageFile& Element(uint16_t g, uint16_t e, std::string_view vr, std::string value) {
        if (value.size() % 2) value += (vr == "UI" ? '\0' : ' ');
        m_bytes.Explicit(g, e, vr, value);
        return *this;
    }
    ImageFile& Us(uint16_t g, uint16_t e, uint16_t v) {
        return Element(g, e, "US", ByteBuilder::LittleU16(v));
    }
    ImageFile& Geometry(uint16_t rows, uint16_t columns, uint16_t bits, uint16_t stored,
                        bool isSigned, std::string photometric = "MONOCHROME2") {
        Element(0x0028, 0x0004, "CS", photometric);
        Us(0x0028, 0x0010, rows).Us(0x0028, 0x0011, columns).Us(0x0028, 0x0100, bits);
        Us(0x0028, 0x0101, stored).Us(0x0028, 0x0102, uint16_t(stored - 1));
        return Us(0x0028, 0x0103, isSigned ? 1 : 0);
    }
    ImageFile& Pixels(std::string_view vr, const std::string& bytes) {
        return Element(0x7FE0, 0x0010, vr, bytes.size() % 2 ? bytes + '\0' : bytes);
    }
    ByteBuilder& Bytes() { return m_bytes; }

    // Reads the file back and builds its image.
    CDicomImage* Open(CDicomFile& file) {
        const auto path =
            test::ScratchDir(std::string("image-") +
                             testing::UnitTest::GetInstance()->current_test_info()->name()) /
            "image.dcm";
        EXPECT_TRUE(m_bytes.WriteTo(path));
        file.SetDeferredValues(true);
        EXPECT_EQ(ReadDicomFile(file, path.string()), ReadStatus::Ok);
        return CDicomImage::AttachTo(file, true);
    }

private:
    ByteBuilder m_bytes;
};

std::vector<uint16_t> Words(CDicomFrame* frame) {
    std::vector<CDicomFrame*> holders;
    const auto* pixels = reinterpret_cast<const uint16_t*>(frame->Pixels(&holders));
    std::vector<uint16_t> words;
    if (pixels) words.assign(pixels, pixels + size_t(frame->Columns()) * frame->Rows());
    CDicomFrame::ReleaseHolders(holders);
    return words;
}

constexpr auto kMono2 = PhotometricCode::Monochrome2;
using Samples = std::vector<uint16_t>;

TEST(SampleConversion, MaskShiftAndSignExtend) {
    // 12 bits stored in 16, signed, written without sign extension: 0x0FFF is -1; bits above
    // Bits Stored are not part of the value.
    Samples words = {0x0FFF, 0x0800, 0x07FF, 0xF001};
    NormaliseWords(words, {16, 12, 11, 1, true, 0, kMono2});
    EXPECT_EQ(words, (Samples{0xFFFF, 0xF800, 0x07FF, 0x0001}));
    // High bit 15 with 12 bits stored: the value sits in the top bits.
    words = {0xFFF0, 0x0010};
    NormaliseWords(words, {16, 12, 15, 1, false, 0, kMono2});
    EXPECT_EQ(words, (Samples{0x0FFF, 0x0001}));
    // 8-bit data, signed and unsigned.
    const uint8_t bytes[] = {0xFF, 0x80, 0x7F, 200};
    Samples out(4);
    ASSERT_TRUE(UnpackGreyscale(bytes, 0, {8, 8, 7, 1, true, 0, kMono2}, false, 0, out));
    EXPECT_EQ(out, (Samples{0xFFFF, 0xFF80, 127, 0xFFC8}));
    ASSERT_TRUE(UnpackGreyscale(bytes, 0, {8, 8, 7, 1, false, 0, kMono2}, false, 0, out));
    EXPECT_EQ(out, (Samples{255, 128, 127, 200}));
}

TEST(SampleConversion, OneBitPackedAndBigEndian) {
    const uint8_t bits[] = {0b10100101, 0b00000011};
    Samples out(10);
    ASSERT_TRUE(UnpackGreyscale(bits, 0, {1, 1, 0, 1, false, 0, kMono2}, false, 0, out));
    EXPECT_EQ(out, (Samples{1, 0, 1, 0, 0, 1, 0, 1, 1, 1}));
    Samples shifted(3);
    ASSERT_TRUE(UnpackGreyscale(bits, 5, {1, 1, 0, 1, false, 0, kMono2}, false, 0, shifted));
    EXPECT_EQ(shifted, (Samples{1, 0, 1}));
    // Runs past the data.
    EXPECT_FALSE(UnpackGreyscale(bits, 7, {1, 1, 0, 1, false, 0, kMono2}, false, 0, out));
    const uint8_t big[] = {0x01, 0x02};
    Samples word(1);
    ASSERT_TRUE(UnpackGreyscale(big, 0, {16, 16, 15, 1, false, 0, kMono2}, true, 0, word));
    EXPECT_EQ(word[0], 0x0102);
}

std::vector<uint8_t> RleFrame(std::initializer_list<std::vector<uint8_t>> segments) {
    std::vector<uint8_t> frame(64, 0);
    uint32_t offset = 64, index = 0;
    frame[0] = static_cast<uint8_t>(segments.size());
    for (const auto& segment : segments) {
        std::memcpy(&frame[4 + 4 * index++], &offset, 4);
        frame.insert(frame.end(), segment.begin(), segment.end());
        offset += static_cast<uint32_t>(segment.size());
    }
    return frame;
}

TEST(Rle, HostileHeadersGiveNoBuffer) {
    std::vector<uint8_t> planes;
    auto many = RleFrame({{0}});
    many[0] = 16;  // more than 15 segments
    EXPECT_NE(DecodeRlePlanes(many, 1, 16, planes), DecodeStatus::Ok);
    auto outside = RleFrame({{0}, {0}});
    const uint32_t beyond = 100000;
    std::memcpy(&outside[8], &beyond, 4);
    EXPECT_NE(DecodeRlePlanes(outside, 1, 2, planes), DecodeStatus::Ok);
    EXPECT_NE(DecodeRlePlanes(std::vector<uint8_t>(10), 1, 1, planes), DecodeStatus::Ok);
    // A segment that stops early leaves the rest zero, never reads past its end.
    const auto shortRun = RleFrame({{0xFD}});
    ASSERT_EQ(DecodeRlePlanes(shortRun, 4, 1, planes), DecodeStatus::Ok);
    EXPECT_EQ(planes, (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST(ImageModel, NativeGreyscaleFramesAndDefaults) {
    ImageFile image;
    image.Geometry(2, 2, 16, 12, true).Element(0x0028, 0x0008, "IS", "2");
    image.Element(0x0028, 0x1052, "DS", "-1024").Element(0x0028, 0x1053, "DS", "1");
    image.Pixels("OW", U16s({0x0FFF, 1, 2, 3, 4, 5, 6, 0x0800}));
    CDicomFile file;
    CDicomImage* img = image.Open(file);
    ASSERT_EQ(img->FrameCount(), 2u);
    EXPECT_EQ(Words(img->Frame(0)), (std::vector<uint16_t>{0xFFFF, 1, 2, 3}));
    EXPECT_EQ(Words(img->Frame(1)), (std::vector<uint16_t>{4, 5, 6, 0xF800}));
    EXPECT_EQ(img->RescaleIntercept(), -1024);
    EXPECT_EQ(img->Frame(0)->ValueText(0, 0), "-1025");
    EXPECT_EQ(img->Frame(1)->ValueText(2, 0), "");
}

TEST(ImageModel, PixelLayoutRulesRejectNonsense) {
    const std::pair<const char*, void (*)(ImageFile&)> cases[] = {
        {"RGB with one sample per pixel",
         [](ImageFile& f) {
             f.Geometry(1, 1, 8, 8, false, "RGB")
                 .Us(0x0028, 0x0002, 1)
                 .Pixels("OB", "\x01\x02\x03");
         }},
        {"ARGB",
         [](ImageFile& f) {
             f.Geometry(1, 1, 8, 8, false, "ARGB").Pixels("OB", "\x01\x02\x03\x04");
         }},
        {"no pixel data", [](ImageFile& f) { f.Geometry(2, 2, 16, 16, false); }},
    };
    for (const auto& [name, build] : cases) {
        ImageFile image;
        build(image);
        CDicomFile file;
        EXPECT_EQ(image.Open(file)->FrameCount(), 0u) << name;
    }
    // Number of Frames 0 counts as one; 3 with data for two gives the frames that are there.
    for (const auto& [frames, expected] : {std::pair{"0", 1u}, std::pair{"3", 2u}}) {
        ImageFile image;
        image.Geometry(1, 2, 8, 8, false).Element(0x0028, 0x0008, "IS", frames);
        image.Pixels("OB", frames[0] == '0' ? "\x01\x02" : "\x01\x02\x03\x04");
        CDicomFile file;
        EXPECT_EQ(image.Open(file)->FrameCount(), expected) << frames;
    }
}

TEST(ImageModel, EncapsulatedFramesFollowTheOffsetTable) {
    // Three RLE frames of one 8-bit pixel; frame 1 is split over two fragments.
    const auto p0 = RleFrame({{0, 11}}), p1 = RleFrame({{0, 22}}), p2 = RleFrame({{0, 33}});
    const std::vector<uint8_t> p1a(p1.begin(), p1.begin() + 40), p1b(p1.begin() + 40, p1.end());
    ImageFile image("1.2.840.10008.1.2.5");
    image.Geometry(1, 1, 8, 8, false).Element(0x0028, 0x0008, "IS", "3");
    ByteBuilder& b = image.Bytes();
    b.ExplicitHeader(0x7FE0, 0x0010, "OB", 0xFFFFFFFF);
    const uint32_t o1 = uint32_t(8 + p0.size()),
                   o2 = uint32_t(o1 + 8 + p1a.size() + 8 + p1b.size());
    b.Item(12).Raw(ByteBuilder::LittleU32(0) + ByteBuilder::LittleU32(o1) +
                   ByteBuilder::LittleU32(o2));
    for (const auto* fragment : {&p0, &p1a, &p1b, &p2})
        b.Item(uint32_t(fragment->size())).Raw(*fragment);
    b.SequenceEnd();
    CDicomFile file;
    CDicomImage* img = image.Open(file);
    ASSERT_EQ(img->FrameCount(), 3u);
    for (size_t f = 0; f < 3; ++f)
        EXPECT_EQ(Words(img->Frame(f)), Samples{uint16_t(11 * (f + 1))});
}

TEST(ImageModel, EmptyOffsetTableWithOneFragmentPerFrame) {
    ImageFile image("1.2.840.10008.1.2.5");
    image.Geometry(1, 1, 8, 8, false).Element(0x0028, 0x0008, "IS", "2");
    ByteBuilder& b = image.Bytes();
    b.ExplicitHeader(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).Item(0);
    for (uint8_t v : {uint8_t{7}, uint8_t{9}}) {
        auto frame = RleFrame({{0, v}});
        frame.push_back(0);
        b.Item(uint32_t(frame.size())).Raw(frame);
    }
    b.SequenceEnd();
    CDicomFile file;
    CDicomImage* img = image.Open(file);
    ASSERT_EQ(img->FrameCount(), 2u);
    EXPECT_EQ(Words(img->Frame(1)), std::vector<uint16_t>{9});
}


// Expected values as dcmdump lists them for these files.
TEST(FunctionalGroups, GeometryComesFromSharedAndPerFrameGroups) {
    VEXEL_REQUIRE_TESTDATA();
    for (const char* name : {"liver_1frame.dcm", "liver_expb_1frame.dcm"}) {
        SCOPED_TRACE(name);
        CDicomFile file;
        file.SetDeferredValues(true);
        ASSERT_EQ(ReadDicomFile(file, (test::TestDataDir() / "pydicom/test_files" / name).string()),
                  ReadStatus::Ok);
        CDicomImage* image = CDicomImage::AttachTo(file, true);
        ASSERT_GE(image->FrameCount(), 1u);
        float spacing[2];
        ASSERT_TRUE(image->PixelSpacing(spacing));
        EXPECT_FLOAT_EQ(spacing[0], 0.810547f);
        const CDicomFrame* frame = image->Frame(0);
        ASSERT_TRUE(frame->Position().has_value());
        EXPECT_FLOAT_EQ((*frame->Position())[0], -235.2f);
        EXPECT_FLOAT_EQ((*frame->Position())[2], -128.69f);
        ASSERT_TRUE(frame->Orientation().has_value());
        EXPECT_FLOAT_EQ((*frame->Orientation())[4], 1.0f);
        EXPECT_FLOAT_EQ(frame->SliceThickness(), 1.0f);
    }
}

}  // namespace
}  // namespace vexel
