// Encodes a DICOM data set element by element into a byte buffer, little endian, with explicit
// or implicit VR. It trusts its caller: values go out as given (padded to even length), so
// tests can also build files that a careful writer never would.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vexel::phantom {

enum class VrEncoding { kExplicit, kImplicit };

class CDataSetWriter {
public:
    explicit CDataSetWriter(VrEncoding encoding = VrEncoding::kExplicit);

    VrEncoding Encoding() const { return m_encoding; }

    // Text VRs; odd values are padded with a space, or a NUL for UI.
    void AddString(uint32_t tag, std::string_view vr, std::string_view value);
    // Binary numbers, one or many values (the VR is US, SS, UL, SL, FL, FD or AT).
    void AddUS(uint32_t tag, uint16_t value);
    void AddUS(uint32_t tag, std::span<const uint16_t> values);
    void AddSS(uint32_t tag, int16_t value);
    void AddUL(uint32_t tag, uint32_t value);
    void AddSL(uint32_t tag, int32_t value);
    void AddFL(uint32_t tag, float value);
    void AddFD(uint32_t tag, double value);
    void AddFD(uint32_t tag, std::span<const double> values);
    void AddAT(uint32_t tag, uint32_t value);
    // Any VR with a value of bytes; an odd value gets one NUL of padding (OB, UN, ...).
    void AddRaw(uint32_t tag, std::string_view vr, std::span<const uint8_t> value);
    // Exactly these bytes with exactly this length field, even when odd: for malformed files.
    void AddRawUnpadded(uint32_t tag, std::string_view vr, std::span<const uint8_t> value);
    // A header with any length (0xFFFFFFFF for undefined) and no value: for malformed files
    // and encapsulated pixel data, whose fragments follow through AddItemBytes.
    void AddHeader(uint32_t tag, std::string_view vr, uint32_t length);
    // An item tag (FFFE,E000) with its bytes, e.g. a fragment of encapsulated pixel data.
    void AddItemBytes(std::span<const uint8_t> value);
    // Sequence Delimitation Item, e.g. after encapsulated fragments.
    void AddSequenceDelimiter();

    // Nested data sets. A defined length is filled in when the sequence or item ends; an
    // undefined one is closed by its delimitation item.
    void BeginSequence(uint32_t tag, bool undefinedLength = false);
    void BeginItem(bool undefinedLength = false);
    void EndItem();
    void EndSequence();
    // Convenience for a sequence whose items are already encoded data sets.
    void AddSequence(uint32_t tag, std::span<const CDataSetWriter> items,
                     bool undefinedLength = false);

    // False after a misuse: a value too long for its length field, unbalanced Begin/End,
    // a VR that is not two characters. The reason stays in Error().
    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    bool Open() const { return !m_open.empty(); }

    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    std::vector<uint8_t> TakeBytes() { return std::move(m_bytes); }
    void Reserve(size_t bytes) { m_bytes.reserve(bytes); }

private:
    struct OpenContainer {
        size_t lengthOffset;  // where the 32-bit length field sits
        bool undefinedLength;
        bool isItem;
    };

    void WriteHeader(uint32_t tag, std::string_view vr, uint32_t length);
    void WriteTag(uint32_t tag);
    void Put16(uint16_t value);
    void Put32(uint32_t value);
    void PutBytes(const void* data, size_t size);
    void EndContainer(bool isItem);
    void Fail(std::string message);
    template <typename T>
    void AddNumbers(uint32_t tag, std::string_view vr, std::span<const T> values);

    VrEncoding m_encoding;
    std::vector<uint8_t> m_bytes;
    std::vector<OpenContainer> m_open;
    std::string m_error;
};

// True for the VRs whose explicit header has 2 reserved bytes and a 32-bit length.
bool HasLongExplicitLength(std::string_view vr);

}  // namespace vexel::phantom
