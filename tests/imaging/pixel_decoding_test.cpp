// Decoding rules on hand-made data whose right answer is known from the standard (the corpus
// decode oracle covers colour conversion, PackBits runs and 32-bit samples), and the geometry
// enhanced multi-frame files keep in functional groups.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/byte_builder.h"
#include "common/test_paths.h"
#include "dicom/dicom_reader.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "imaging/photometric.h"
#include "imaging/rle_decoder.h"
#include "imaging/sample_conversion.h"

namespace vexel {
namespace {

using test::ByteBuilder;

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
