#include "dicom/display_text.h"

#include <algorithm>

namespace vexel {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at text[at] (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0.
size_t SequenceLength(std::string_view text, size_t at, char32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(text[at]);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, codePoint = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, codePoint = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[at + i]);
        if (!IsContinuation(byte) || (i == 1 && (byte < low || byte > high))) return 0;
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    return length;
}

bool IsPlainAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

}  // namespace

std::string SafeDisplayText(std::string_view utf8) {
    if (IsPlainAscii(utf8)) return std::string(utf8);
    std::string out;
    out.reserve(utf8.size());
    for (size_t at = 0; at < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[at]);
        if (byte < 0x80) {
            if (byte >= 0x09 && byte <= 0x0D) {
                out += ' ';  // tab, line feed, vertical tab, form feed, carriage return
            } else if (byte < 0x20 || byte == 0x7F) {
                out += kReplacement;
            } else {
                out += static_cast<char>(byte);
            }
            ++at;
            continue;
        }
        char32_t codePoint = 0;
        const size_t length = SequenceLength(utf8, at, codePoint);
        if (length == 0) {
            out += kReplacement;
            ++at;
            continue;
        }
        if (codePoint == 0x2028 || codePoint == 0x2029) {
            out += ' ';  // line and paragraph separators
        } else if (codePoint <= 0x9F || (codePoint >= 0x202A && codePoint <= 0x202E) ||
                   (codePoint >= 0x2066 && codePoint <= 0x2069)) {
            out += kReplacement;  // C1 controls, bidirectional embeddings and isolates
        } else {
            out.append(utf8.substr(at, length));
        }
        at += length;
    }
    return out;
}

bool CapCharacters(std::string& text, size_t maxChars) {
    if (text.size() <= maxChars) return false;
    size_t characters = 0;
    for (size_t at = 0; at < text.size(); ++at) {
        if (IsContinuation(static_cast<unsigned char>(text[at]))) continue;
        if (characters++ == maxChars) {
            text.resize(at);
            return true;
        }
    }
    return false;
}

}  // namespace vexel
