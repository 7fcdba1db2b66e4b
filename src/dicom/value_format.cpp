#include "dicom/value_format.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "dicom/character_set.h"
#include "dicom/display_text.h"
#include "dicom/value_parser.h"
#include "platform/code_page.h"

namespace vexel {
namespace {

constexpr uint32_t kMaxHexBytes = 32;

// At most 32 bytes; `more` tells whether any follow.
std::string FormatHex(const uint8_t* bytes, uint32_t length, bool& more) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    const uint32_t shown = std::min(length, kMaxHexBytes);
    for (uint32_t i = 0; i < shown; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
        text += ' ';
    }
    more = length > kMaxHexBytes;
    return text;
}

template <typename T>
T LoadUnit(const uint8_t* bytes, bool swap) {
    uint8_t copy[sizeof(T)];
    std::memcpy(copy, bytes, sizeof(T));
    if (swap) SwapUnits(copy, sizeof(T), sizeof(T));
    T value;
    std::memcpy(&value, copy, sizeof(T));
    return value;
}

// Whole values only: the text stops before the value that would pass maxChars.
template <typename T, typename Format>
std::string FormatUnits(const uint8_t* bytes, uint32_t length, bool swap, size_t maxChars,
                        bool& more, Format format) {
    std::string text;
    for (uint32_t at = 0; at + sizeof(T) <= length; at += sizeof(T)) {
        const std::string value = format(LoadUnit<T>(bytes + at, swap));
        const size_t separator = at > 0 ? 1 : 0;
        if (maxChars != 0 && text.size() + separator + value.size() > maxChars) {
            more = true;
            break;
        }
        if (separator) text += '\\';
        text += value;
    }
    return text;
}

std::string FormatNumbers(const uint8_t* bytes, uint32_t length, VrCode vr, bool swap,
                          size_t maxChars, bool& more) {
    const auto decimal = [](auto v) { return std::to_string(v); };
    switch (vr) {
        case VrCode::AT: case VrCode::US: case VrCode::US_SS: case VrCode::US_SS_OW:
            return FormatUnits<uint16_t>(bytes, length, swap, maxChars, more, decimal);
        case VrCode::SS:
            return FormatUnits<int16_t>(bytes, length, swap, maxChars, more, decimal);
        case VrCode::SL:
            return FormatUnits<int32_t>(bytes, length, swap, maxChars, more, decimal);
        case VrCode::UL:
            return FormatUnits<uint32_t>(bytes, length, swap, maxChars, more, decimal);
        case VrCode::SV:
            return FormatUnits<int64_t>(bytes, length, swap, maxChars, more, decimal);
        case VrCode::UV:
            return FormatUnits<uint64_t>(bytes, length, swap, maxChars, more, decimal);
        case VrCode::FL:
            return FormatUnits<float>(bytes, length, swap, maxChars, more,
                                      [](float v) { return FormatFixed(v); });
        case VrCode::FD:
            return FormatUnits<double>(bytes, length, swap, maxChars, more,
                                       [](double v) { return FormatGeneral(v); });
        default:
            return {};
    }
}

bool IsBinaryBulk(VrCode vr) {
    switch (vr) {
        case VrCode::Unknown: case VrCode::OB: case VrCode::OF: case VrCode::OW:
        case VrCode::OB_OW: case VrCode::OW_OB: case VrCode::UN: case VrCode::OD:
        case VrCode::OL: case VrCode::OV:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::string FormatValue(const uint8_t* bytes, uint32_t length, VrCode vr,
                        const ValueFormatOptions& options) {
    std::string text;
    bool more = false;  // the text shows less than the bytes given
    if (bytes == nullptr || length == 0) {
        text.clear();
    } else if (IsBinaryBulk(vr)) {
        text = FormatHex(bytes, length, more);
    } else if (VrNumericUnitSize(vr) != 0) {
        text = FormatNumbers(bytes, length, vr, options.bigEndian, options.maxChars, more);
    } else {
        const auto* chars = reinterpret_cast<const char*>(bytes);
        std::string_view raw(chars, strnlen(chars, length));
        text = SafeDisplayText(VrUsesCharacterSet(vr) ? DecodeText(raw, options.characterSets, vr)
                                                      : ConvertToUtf8(raw, 28591));
        more = options.maxChars != 0 && CapCharacters(text, options.maxChars);
    }
    if (more || options.truncated) text += "...";
    return text;
}

}  // namespace vexel
