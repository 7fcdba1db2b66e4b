// A lossless-JPEG Huffman table (T.81 Annex C) ready for decoding: a lookahead table that
// resolves short codes together with their extra bits in one step, and the canonical
// maxcode/valoffset arrays of F.2.2.3 for the longer ones.
#pragma once

#include <array>
#include <cstdint>

#include "jpeg_bit_reader.h"

namespace vexel {

class CHuffmanTable {
public:
    static constexpr int kLookaheadBits = 12;

    // counts: the 16 BITS bytes; values: HUFFVAL. False for an invalid table: too many or
    // out-of-range symbols (lossless uses categories 0 to 16) or codes that overflow.
    bool Build(const uint8_t* counts, const uint8_t* values, int valueCount);

    // One difference value (H.1.2.2); a code the table does not have gives 0 and marks the
    // reader failed. The reader must hold at least 32 bits (Fill()).
    inline int32_t DecodeDifference(CJpegBitReader& reader) const {
        const int32_t entry = m_fast[reader.Peek(kLookaheadBits)];
        if (entry & kResolved) {
            reader.Skip(entry & kLengthMask);
            return entry >> kValueShift;
        }
        return DecodeSlow(reader, entry);
    }

private:
    static constexpr int32_t kLengthMask = 31;
    static constexpr int32_t kResolved = 32;
    static constexpr int kValueShift = 8;

    int32_t DecodeSlow(CJpegBitReader& reader, int32_t entry) const;
    static int32_t Extend(uint32_t bits, int category);

    // Entry: bits 0-4 bits consumed, bit 5 resolved, bits 8+ the difference (resolved) or
    // the category (code only); 0 when the code is longer than the lookahead.
    std::array<int32_t, 1 << kLookaheadBits> m_fast{};
    std::array<int32_t, 18> m_maxCode{};
    std::array<int32_t, 17> m_valueOffset{};
    std::array<uint8_t, 256> m_values{};
};

}  // namespace vexel
