#include "phantom/data_set_writer.h"

#include <bit>
#include <limits>

namespace vexel::phantom {

namespace {

constexpr uint32_t kItemTag = 0xFFFEE000;
constexpr uint32_t kItemDelimitationTag = 0xFFFEE00D;
constexpr uint32_t kSequenceDelimitationTag = 0xFFFEE0DD;
constexpr uint32_t kUndefinedLength = 0xFFFFFFFF;

bool IsDelimiterTag(uint32_t tag) {
    return (tag >> 16) == 0xFFFE;
}

}  // namespace

bool HasLongExplicitLength(std::string_view vr) {
    // PS3.5 7.1.2: these VRs use 2 reserved bytes and a 32-bit length.
    static constexpr std::string_view kLong[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                                 "SV", "UC", "UN", "UR", "UT", "UV"};
    for (std::string_view longVr : kLong)
        if (vr == longVr) return true;
    return false;
}

CDataSetWriter::CDataSetWriter(VrEncoding encoding) : m_encoding(encoding) {}

void CDataSetWriter::Fail(std::string message) {
    if (m_error.empty()) m_error = std::move(message);
}

void CDataSetWriter::Put16(uint16_t value) {
    m_bytes.push_back(static_cast<uint8_t>(value & 0xFF));
    m_bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void CDataSetWriter::Put32(uint32_t value) {
    Put16(static_cast<uint16_t>(value & 0xFFFF));
    Put16(static_cast<uint16_t>(value >> 16));
}

void CDataSetWriter::PutBytes(const void* data, size_t size) {
    const auto* first = static_cast<const uint8_t*>(data);
    m_bytes.insert(m_bytes.end(), first, first + size);
}

void CDataSetWriter::WriteTag(uint32_t tag) {
    Put16(static_cast<uint16_t>(tag >> 16));
    Put16(static_cast<uint16_t>(tag & 0xFFFF));
}

void CDataSetWriter::WriteHeader(uint32_t tag, std::string_view vr, uint32_t length) {
    WriteTag(tag);
    // Items and delimiters never carry a VR, whatever the transfer syntax.
    if (m_encoding == VrEncoding::kImplicit || IsDelimiterTag(tag)) {
        Put32(length);
        return;
    }
    if (vr.size() != 2) {
        Fail("VR must be two characters");
        vr = "UN";
    }
    PutBytes(vr.data(), 2);
    if (HasLongExplicitLength(vr)) {
        Put16(0);
        Put32(length);
        return;
    }
    if (length > 0xFFFF) {
        Fail("value too long for the 16-bit length of VR " + std::string(vr));
        length = 0xFFFF;
    }
    Put16(static_cast<uint16_t>(length));
}

void CDataSetWriter::AddString(uint32_t tag, std::string_view vr, std::string_view value) {
    const bool odd = (value.size() % 2) != 0;
    if (value.size() + 1 > std::numeric_limits<uint32_t>::max()) {
        Fail("value too long");
        return;
    }
    WriteHeader(tag, vr, static_cast<uint32_t>(value.size() + (odd ? 1 : 0)));
    PutBytes(value.data(), value.size());
    if (odd) m_bytes.push_back(vr == "UI" ? uint8_t{0} : uint8_t{' '});
}

template <typename T>
void CDataSetWriter::AddNumbers(uint32_t tag, std::string_view vr, std::span<const T> values) {
    const size_t size = values.size() * sizeof(T);
    if (size > 0xFFFF && !HasLongExplicitLength(vr)) {
        Fail("too many values for VR " + std::string(vr));
        return;
    }
    WriteHeader(tag, vr, static_cast<uint32_t>(size));
    for (T value : values) {
        if constexpr (sizeof(T) == 2) {
            Put16(std::bit_cast<uint16_t>(value));
        } else if constexpr (sizeof(T) == 4) {
            Put32(std::bit_cast<uint32_t>(value));
        } else {
            const auto bits = std::bit_cast<uint64_t>(value);
            Put32(static_cast<uint32_t>(bits & 0xFFFFFFFF));
            Put32(static_cast<uint32_t>(bits >> 32));
        }
    }
}

void CDataSetWriter::AddUS(uint32_t tag, uint16_t value) {
    AddUS(tag, std::span(&value, 1));
}
void CDataSetWriter::AddUS(uint32_t tag, std::span<const uint16_t> values) {
    AddNumbers(tag, "US", values);
}
void CDataSetWriter::AddSS(uint32_t tag, int16_t value) {
    AddNumbers<int16_t>(tag, "SS", std::span(&value, 1));
}
void CDataSetWriter::AddUL(uint32_t tag, uint32_t value) {
    AddNumbers<uint32_t>(tag, "UL", std::span(&value, 1));
}
void CDataSetWriter::AddSL(uint32_t tag, int32_t value) {
    AddNumbers<int32_t>(tag, "SL", std::span(&value, 1));
}
void CDataSetWriter::AddFL(uint32_t tag, float value) {
    AddNumbers<float>(tag, "FL", std::span(&value, 1));
}
void CDataSetWriter::AddFD(uint32_t tag, double value) {
    AddFD(tag, std::span(&value, 1));
}
void CDataSetWriter::AddFD(uint32_t tag, std::span<const double> values) {
    AddNumbers(tag, "FD", values);
}

void CDataSetWriter::AddAT(uint32_t tag, uint32_t value) {
    // PS3.5 6.2: AT is group then element, each a 16-bit number.
    const uint16_t pair[2] = {static_cast<uint16_t>(value >> 16),
                              static_cast<uint16_t>(value & 0xFFFF)};
    AddNumbers(tag, "AT", std::span<const uint16_t>(pair, 2));
}

void CDataSetWriter::AddRaw(uint32_t tag, std::string_view vr, std::span<const uint8_t> value) {
    const bool odd = (value.size() % 2) != 0;
    if (value.size() + 1 >= kUndefinedLength) {
        Fail("value too long");
        return;
    }
    WriteHeader(tag, vr, static_cast<uint32_t>(value.size() + (odd ? 1 : 0)));
    PutBytes(value.data(), value.size());
    if (odd) m_bytes.push_back(0);
}

void CDataSetWriter::AddRawUnpadded(uint32_t tag, std::string_view vr,
                                    std::span<const uint8_t> value) {
    if (value.size() >= kUndefinedLength) {
        Fail("value too long");
        return;
    }
    WriteHeader(tag, vr, static_cast<uint32_t>(value.size()));
    PutBytes(value.data(), value.size());
}

void CDataSetWriter::AddHeader(uint32_t tag, std::string_view vr, uint32_t length) {
    WriteHeader(tag, vr, length);
}

void CDataSetWriter::AddItemBytes(std::span<const uint8_t> value) {
    AddRawUnpadded(kItemTag, {}, value);
}

void CDataSetWriter::AddSequenceDelimiter() {
    WriteHeader(kSequenceDelimitationTag, {}, 0);
}

void CDataSetWriter::BeginSequence(uint32_t tag, bool undefinedLength) {
    WriteHeader(tag, "SQ", undefinedLength ? kUndefinedLength : 0);
    m_open.push_back({m_bytes.size() - 4, undefinedLength, false});
}

void CDataSetWriter::BeginItem(bool undefinedLength) {
    if (m_open.empty() || m_open.back().isItem) Fail("an item must sit directly in a sequence");
    WriteHeader(kItemTag, {}, undefinedLength ? kUndefinedLength : 0);
    m_open.push_back({m_bytes.size() - 4, undefinedLength, true});
}

void CDataSetWriter::EndItem() {
    EndContainer(true);
}
void CDataSetWriter::EndSequence() {
    EndContainer(false);
}

void CDataSetWriter::EndContainer(bool isItem) {
    if (m_open.empty() || m_open.back().isItem != isItem) {
        Fail(isItem ? "EndItem without an open item" : "EndSequence without an open sequence");
        return;
    }
    const OpenContainer container = m_open.back();
    m_open.pop_back();
    if (container.undefinedLength) {
        WriteHeader(isItem ? kItemDelimitationTag : kSequenceDelimitationTag, {}, 0);
        return;
    }
    const size_t length = m_bytes.size() - (container.lengthOffset + 4);
    if (length >= kUndefinedLength) {
        Fail("sequence too long for a defined length");
        return;
    }
    const auto value = static_cast<uint32_t>(length);
    for (size_t i = 0; i < 4; ++i)
        m_bytes[container.lengthOffset + i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFF);
}

void CDataSetWriter::AddSequence(uint32_t tag, std::span<const CDataSetWriter> items,
                                 bool undefinedLength) {
    BeginSequence(tag, undefinedLength);
    for (const CDataSetWriter& item : items) {
        if (item.Encoding() != m_encoding) Fail("item encoded with another VR encoding");
        if (!item.Ok()) Fail(item.Error());
        BeginItem(undefinedLength);
        PutBytes(item.Bytes().data(), item.Bytes().size());
        EndItem();
    }
    EndSequence();
}

}  // namespace vexel::phantom
