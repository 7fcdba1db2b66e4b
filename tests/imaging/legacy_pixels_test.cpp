// Pixels of old and odd files: narrow samples, palettes and overlays stored as OW in explicit
// VR big endian (DCMTK's dcmconv makes the twin of a little-endian file), and the 12-bit
// packed pixels of headless ACR-NEMA files (DCMTK's dcm2pnm decodes them).
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "common/byte_builder.h"
#include "common/legacy_file_builder.h"
#include "common/test_paths.h"
#include "dicom/dicom_reader.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"

namespace vexel {
namespace {

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

}  // namespace
}  // namespace vexel
