// Hand-built DICOM byte streams for reader tests: every byte is written here, so the
// expected structure is known without any DICOM toolkit.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace vexel::test {

class ByteBuilder {
public:
    explicit ByteBuilder(bool bigEndian = false) : m_bigEndian(bigEndian) {}

    std::vector<uint8_t>& Bytes() { return m_bytes; }
    size_t Size() const { return m_bytes.size(); }

    ByteBuilder& Raw(std::string_view text) {
        m_bytes.insert(m_bytes.end(), text.begin(), text.end());
        return *this;
    }
    ByteBuilder& Raw(const std::vector<uint8_t>& bytes) {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }
    // 128-byte preamble and "DICM".
    ByteBuilder& Preamble() {
        m_bytes.resize(m_bytes.size() + 128, 0);
        return Raw("DICM");
    }
    // A file meta group (always explicit little endian) with the given transfer syntax.
    ByteBuilder& Meta(std::string_view transferSyntax) {
        std::string uid(transferSyntax);
        if (uid.size() % 2) uid += '\0';
        ByteBuilder group;
        group.Explicit(0x0002, 0x0010, "UI", uid, false);
        Explicit(0x0002, 0x0000, "UL", LittleU32(static_cast<uint32_t>(group.Size())), false);
        return Raw(group.Bytes());
    }
    // Explicit VR element; 32-bit length form for the VRs that have it.
    ByteBuilder& Explicit(uint16_t group, uint16_t element, std::string_view vr,
                          std::string_view value, bool bigEndian) {
        Put(group, 2, bigEndian).Put(element, 2, bigEndian).Raw(vr);
        const size_t at = std::string_view("OB OW OF SQ UT UN OD OL OV SV UV UC UR").find(vr);
        if (vr.size() == 2 && at != std::string_view::npos && at % 3 == 0)
            Put(0, 2, bigEndian).Put(uint32_t(value.size()), 4, bigEndian);
        else
            Put(uint32_t(value.size()), 2, bigEndian);
        return Raw(value);
    }
    ByteBuilder& Explicit(uint16_t group, uint16_t element, std::string_view vr,
                          std::string_view value) {
        return Explicit(group, element, vr, value, m_bigEndian);
    }
    ByteBuilder& Implicit(uint16_t group, uint16_t element, std::string_view value) {
        return ImplicitHeader(group, element, uint32_t(value.size())).Raw(value);
    }
    ByteBuilder& ImplicitHeader(uint16_t group, uint16_t element, uint32_t length) {
        return Put(group, 2).Put(element, 2).Put(length, 4);
    }
    // Explicit VR header with a chosen 32-bit length (undefined lengths, lies).
    ByteBuilder& ExplicitHeader(uint16_t group, uint16_t element, std::string_view vr,
                                uint32_t length) {
        return Put(group, 2).Put(element, 2).Raw(vr).Put(0, 2).Put(length, 4);
    }
    // Items and delimiters: tag and 32-bit length, never a VR.
    ByteBuilder& Item(uint32_t length) { return ImplicitHeader(0xFFFE, 0xE000, length); }
    ByteBuilder& ItemEnd() { return ImplicitHeader(0xFFFE, 0xE00D, 0); }
    ByteBuilder& SequenceEnd() { return ImplicitHeader(0xFFFE, 0xE0DD, 0); }

    static std::string LittleU16(uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; }
    static std::string LittleU32(uint32_t v) {
        return LittleU16(uint16_t(v & 0xFFFF)) + LittleU16(uint16_t(v >> 16));
    }

    bool WriteTo(const std::filesystem::path& path) const {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(m_bytes.data()), std::streamsize(m_bytes.size()));
        return bool(out);
    }

private:
    ByteBuilder& Put(uint32_t v, int bytes) { return Put(v, bytes, m_bigEndian); }
    ByteBuilder& Put(uint32_t v, int bytes, bool bigEndian) {
        for (int i = 0; i < bytes; ++i)
            m_bytes.push_back(static_cast<uint8_t>(v >> (bigEndian ? 8 * (bytes - 1 - i) : 8 * i)));
        return *this;
    }

    bool m_bigEndian;
    std::vector<uint8_t> m_bytes;
};

// Old-style files built with it: headless ACR-NEMA data sets (implicit VR
// little endian, no preamble, no meta group, a group length opening every group, retired
// elements, dotted dates, 12-bit packed pixels).
struct AcrNemaImage {
    const char* name;
    const char* recognitionCode;  // "" for none
    uint16_t bitsAllocated;       // 12 (two samples in three bytes) or 16
    uint16_t rows;
    uint16_t columns;
};

// Stored 12-bit values of a deterministic pattern.
inline std::vector<uint16_t> AcrNemaSamples(const AcrNemaImage& image) {
    std::vector<uint16_t> samples(size_t{image.rows} * image.columns);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint16_t((i * 2654435761u >> 7) & 0xFFF);
    return samples;
}

// The data set; the group length of group 0008 is wrong on purpose (it only informs).
inline ByteBuilder BuildAcrNema(const AcrNemaImage& image) {
    auto pad = [](std::string v) { return v.size() % 2 ? v + ' ' : v; };
    auto u16 = ByteBuilder::LittleU16;
    using Group = std::vector<std::pair<uint16_t, std::string>>;
    std::string pixels;
    const std::vector<uint16_t> s = AcrNemaSamples(image);
    for (size_t i = 0; i < s.size(); i += (image.bitsAllocated == 12 ? 2 : 1)) {
        // 12 bits: the first sample in the low 12 bits of the stream (PS3.5 8.1.1 bit order).
        const uint16_t next = i + 1 < s.size() ? s[i + 1] : 0;
        pixels += image.bitsAllocated == 16
                      ? u16(s[i])
                      : std::string{char(s[i] & 0xFF), char((s[i] >> 8) | ((next & 0xF) << 4)),
                                    char(next >> 4)};
    }
    Group g08{{0x0020, "1996.12.02"}, {0x0040, u16(0)}, {0x0060, "CT"}};
    if (*image.recognitionCode) g08.insert(g08.begin(), {0x0010, pad(image.recognitionCode)});
    const Group groups[] = {
        g08,
        {{0x0010, "Doe^John"}, {0x0030, "1950.01.31"}},
        {{0x0005, u16(2)}, {0x0010, u16(image.rows)}, {0x0011, u16(image.columns)},
         {0x0060, "NONE"}, {0x0100, u16(image.bitsAllocated)}, {0x0101, u16(12)},
         {0x0102, u16(11)}, {0x0103, u16(0)}},
        {{0x0010, pixels.size() % 2 ? pixels + '\0' : pixels}},
    };
    const uint16_t numbers[] = {0x0008, 0x0010, 0x0028, 0x7FE0};
    ByteBuilder bytes;
    for (size_t g = 0; g < 4; ++g) {
        ByteBuilder body;
        for (const auto& [element, value] : groups[g]) body.Implicit(numbers[g], element, value);
        const uint32_t length = g == 0 ? 6 : uint32_t(body.Size());
        bytes.Implicit(numbers[g], 0x0000, ByteBuilder::LittleU32(length)).Raw(body.Bytes());
    }
    return bytes;
}

inline const AcrNemaImage kAcrNemaImages[] = {
    {"acr_nema_1_bits12", "ACR-NEMA 1.0", 12, 5, 7},
    {"acr_nema_2_bits12", "ACR-NEMA 2.0", 12, 64, 64},
    {"acr_nema_2_bits16", "ACR-NEMA 2.0", 16, 9, 11},
    {"no_recognition_code_bits12", "", 12, 16, 16},
};

}  // namespace vexel::test
