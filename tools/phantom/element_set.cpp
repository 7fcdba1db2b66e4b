#include "phantom/element_set.h"

namespace vexel::phantom {

void CElementSet::SetString(uint32_t tag, std::string_view vr, std::string_view value) {
    Element element;
    element.kind = Kind::kText;
    element.vr = vr;
    element.text = value;
    m_elements[tag] = std::move(element);
}

void CElementSet::SetUS(uint32_t tag, std::span<const uint16_t> values) {
    std::vector<uint8_t> bytes;
    bytes.reserve(values.size() * 2);
    for (uint16_t value : values) {
        bytes.push_back(static_cast<uint8_t>(value & 0xFF));
        bytes.push_back(static_cast<uint8_t>(value >> 8));
    }
    SetBytes(tag, "US", std::move(bytes));
}

void CElementSet::SetAT(uint32_t tag, uint32_t value) {
    const uint16_t pair[2] = {static_cast<uint16_t>(value >> 16),
                              static_cast<uint16_t>(value & 0xFFFF)};
    SetUS(tag, pair);
    m_elements[tag].vr = "AT";
}

void CElementSet::SetBytes(uint32_t tag, std::string_view vr, std::vector<uint8_t> bytes) {
    Element element;
    element.kind = Kind::kBinary;
    element.vr = vr;
    element.bytes = std::move(bytes);
    m_elements[tag] = std::move(element);
}

void CElementSet::SetSequence(uint32_t tag, std::vector<CElementSet> items, bool undefinedLength) {
    Element element;
    element.kind = Kind::kSequence;
    element.vr = "SQ";
    element.items = std::move(items);
    element.undefinedLength = undefinedLength;
    m_elements[tag] = std::move(element);
}

std::string CElementSet::Text(uint32_t tag) const {
    const auto it = m_elements.find(tag);
    return it != m_elements.end() && it->second.kind == Kind::kText ? it->second.text
                                                                    : std::string();
}

void CElementSet::Encode(CDataSetWriter& writer) const {
    for (const auto& [tag, element] : m_elements) {
        switch (element.kind) {
            case Kind::kText:
                writer.AddString(tag, element.vr, element.text);
                break;
            case Kind::kBinary:
                writer.AddRaw(tag, element.vr, element.bytes);
                break;
            case Kind::kSequence:
                writer.BeginSequence(tag, element.undefinedLength);
                for (const CElementSet& item : element.items) {
                    writer.BeginItem(element.undefinedLength);
                    item.Encode(writer);
                    writer.EndItem();
                }
                writer.EndSequence();
                break;
        }
    }
}

}  // namespace vexel::phantom
