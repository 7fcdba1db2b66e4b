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
    ByteBuilder& U16(uint16_t v, bool bigEndian) { return Put(v, 2, bigEndian); }
    ByteBuilder& U32(uint32_t v, bool bigEndian) { return Put(v, 4, bigEndian); }
    ByteBuilder& U16(uint16_t v) { return U16(v, m_bigEndian); }
    ByteBuilder& U32(uint32_t v) { return U32(v, m_bigEndian); }

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
        Tag(group, element, bigEndian);
        Raw(vr);
        if (LongForm(vr)) {
            U16(0, bigEndian);
            U32(static_cast<uint32_t>(value.size()), bigEndian);
        } else {
            U16(static_cast<uint16_t>(value.size()), bigEndian);
        }
        return Raw(value);
    }
    ByteBuilder& Explicit(uint16_t group, uint16_t element, std::string_view vr,
                          std::string_view value) {
        return Explicit(group, element, vr, value, m_bigEndian);
    }
    ByteBuilder& ImplicitHeader(uint16_t group, uint16_t element, uint32_t length) {
        Tag(group, element, m_bigEndian);
        return U32(length);
    }
    // Explicit VR header with a chosen 32-bit length (undefined lengths, lies).
    ByteBuilder& ExplicitHeader(uint16_t group, uint16_t element, std::string_view vr,
                                uint32_t length) {
        Tag(group, element, m_bigEndian);
        Raw(vr);
        U16(0);
        return U32(length);
    }
    ByteBuilder& Implicit(uint16_t group, uint16_t element, std::string_view value) {
        Tag(group, element, m_bigEndian);
        U32(static_cast<uint32_t>(value.size()));
        return Raw(value);
    }
    // Items and delimiters: tag and 32-bit length, never a VR.
    ByteBuilder& Item(uint32_t length) { return Delimiter(0xE000, length); }
    ByteBuilder& ItemEnd() { return Delimiter(0xE00D, 0); }
    ByteBuilder& SequenceEnd() { return Delimiter(0xE0DD, 0); }
    ByteBuilder& Delimiter(uint16_t element, uint32_t length) {
        Tag(0xFFFE, element, m_bigEndian);
        return U32(length);
    }

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
    static bool LongForm(std::string_view vr) {
        const size_t at = std::string_view("OB OW OF SQ UT UN OD OL OV SV UV UC UR").find(vr);
        return vr.size() == 2 && at != std::string_view::npos && at % 3 == 0;
    }
    void Tag(uint16_t group, uint16_t element, bool bigEndian) {
        U16(group, bigEndian);
        U16(element, bigEndian);
    }
    ByteBuilder& Put(uint32_t v, int bytes, bool bigEndian) {
        for (int i = 0; i < bytes; ++i)
            m_bytes.push_back(static_cast<uint8_t>(v >> (bigEndian ? 8 * (bytes - 1 - i) : 8 * i)));
        return *this;
    }

    bool m_bigEndian;
    std::vector<uint8_t> m_bytes;
};

}  // namespace vexel::test
