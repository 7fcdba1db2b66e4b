#include "support/utf8_text.h"

#include <cstdint>

namespace vexel {

namespace {

// Length of the sequence a lead byte starts, 0 for a byte that cannot start one.
size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Second-byte ranges that rule out overlong forms, surrogates and values above U+10FFFF.
bool SecondByteFits(unsigned char lead, unsigned char second) {
    switch (lead) {
        case 0xE0:
            return second >= 0xA0 && second <= 0xBF;
        case 0xED:
            return second >= 0x80 && second <= 0x9F;
        case 0xF0:
            return second >= 0x90 && second <= 0xBF;
        case 0xF4:
            return second >= 0x80 && second <= 0x8F;
        default:
            return second >= 0x80 && second <= 0xBF;
    }
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const size_t length = SequenceLength(lead);
        if (length == 0 || length > bytes.size() - i) return false;
        if (length > 1 && !SecondByteFits(lead, static_cast<unsigned char>(bytes[i + 1]))) {
            return false;
        }
        for (size_t k = 2; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if (next < 0x80 || next > 0xBF) return false;
        }
        i += length;
    }
    return true;
}

std::string CutUtf8(std::string_view text, size_t maxCharacters, size_t maxBytes) {
    size_t end = 0;
    for (size_t characters = 0; end < text.size() && characters < maxCharacters; ++characters) {
        size_t length = SequenceLength(static_cast<unsigned char>(text[end]));
        if (length == 0) length = 1;
        if (end + length > text.size() || end + length > maxBytes) break;
        end += length;
    }
    return std::string(text.substr(0, end));
}

}  // namespace vexel
