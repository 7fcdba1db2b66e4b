#include "huffman_table.h"

namespace vexel {

int32_t CHuffmanTable::Extend(uint32_t bits, int category) {
    // H.1.2.2: category 16 has no extra bits and always means 32768.
    if (category == 16) return 32768;
    if (category == 0) return 0;
    const int32_t v = static_cast<int32_t>(bits);
    return v < (1 << (category - 1)) ? v - ((1 << category) - 1) : v;
}

bool CHuffmanTable::Build(const uint8_t* counts, const uint8_t* values, int valueCount) {
    int total = 0;
    for (int i = 0; i < 16; ++i)
        total += counts[i];
    if (total > 256 || total > valueCount) return false;
    for (int i = 0; i < total; ++i) {
        if (values[i] > 16) return false;
        m_values[i] = values[i];
    }
    m_fast.fill(0);
    int32_t code = 0;
    int k = 0;
    for (int length = 1; length <= 16; ++length) {
        const int n = counts[length - 1];
        m_valueOffset[length] = k - code;
        for (int i = 0; i < n; ++i, ++k, ++code) {
            // Codes must fit their length and the all-ones code is reserved (C.2).
            if (code + 1 >= (1 << length)) return false;
            if (length <= kLookaheadBits) {
                const int category = m_values[k];
                const int spare = kLookaheadBits - length;
                const int first = code << spare;
                for (int fill = 0; fill < (1 << spare); ++fill) {
                    int32_t entry;
                    if (category == 0 || category == 16) {
                        entry = Extend(0, category) * (1 << kValueShift) | kResolved | length;
                    } else if (category <= spare) {
                        const uint32_t extra = static_cast<uint32_t>(fill) >> (spare - category);
                        entry = Extend(extra, category) * (1 << kValueShift) | kResolved |
                                (length + category);
                    } else {
                        entry = category << kValueShift | length;
                    }
                    m_fast[first + fill] = entry;
                }
            }
        }
        m_maxCode[length] = n ? code - 1 : -1;
        code <<= 1;
    }
    m_maxCode[17] = INT32_MAX;  // sentinel
    return true;
}

int32_t CHuffmanTable::DecodeSlow(CJpegBitReader& reader, int32_t entry) const {
    int length;
    int category;
    if (entry != 0) {
        length = entry & kLengthMask;
        category = entry >> kValueShift;
    } else {
        const int32_t bits = static_cast<int32_t>(reader.Peek(16));
        length = kLookaheadBits + 1;
        while (length <= 16 && (bits >> (16 - length)) > m_maxCode[length])
            ++length;
        if (length > 16) {
            reader.MarkBadCode();
            return 0;
        }
        category = m_values[m_valueOffset[length] + (bits >> (16 - length))];
    }
    reader.Skip(length);
    if (category == 0 || category == 16) return Extend(0, category);
    const uint32_t extra = reader.Peek(category);
    reader.Skip(category);
    return Extend(extra, category);
}

}  // namespace vexel
