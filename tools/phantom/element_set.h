// Elements collected in any order and encoded in ascending tag order, as a data set must be.
// The series builders add whole modules to one set without caring how their tags interleave.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "phantom/data_set_writer.h"

namespace vexel::phantom {

class CElementSet {
public:
    // Replaces an element with the same tag.
    void SetString(uint32_t tag, std::string_view vr, std::string_view value);
    void SetUS(uint32_t tag, std::span<const uint16_t> values);
    void SetUS(uint32_t tag, uint16_t value) { SetUS(tag, std::span(&value, 1)); }
    void SetAT(uint32_t tag, uint32_t value);
    // Bytes already in little endian order (pixel data, OB values).
    void SetBytes(uint32_t tag, std::string_view vr, std::vector<uint8_t> bytes);
    void SetSequence(uint32_t tag, std::vector<CElementSet> items, bool undefinedLength = false);
    bool Has(uint32_t tag) const { return m_elements.count(tag) != 0; }
    // The value given to SetString, or empty.
    std::string Text(uint32_t tag) const;

    void Encode(CDataSetWriter& writer) const;

private:
    enum class Kind { kText, kBinary, kSequence };
    struct Element {
        Kind kind = Kind::kText;
        std::string vr;
        std::vector<uint8_t> bytes;
        std::string text;
        std::vector<CElementSet> items;
        bool undefinedLength = false;
    };
    std::map<uint32_t, Element> m_elements;
};

}  // namespace vexel::phantom
