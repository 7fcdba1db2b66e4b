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

}  // namespace vexel::test
