#include "dicom/value_parser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "dicom/dicom_dictionary.h"
#include "platform/checked_alloc.h"

namespace vexel {
namespace {

constexpr uint32_t kMaxCount = 0xFFFF;

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\0')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.remove_suffix(1);
    return text;
}

template <typename Number, typename Parse>
Number* ParseComponents(std::string_view text, uint32_t count, Number invalid, Parse parse) {
    auto* values = static_cast<Number*>(CheckedAlloc(sizeof(Number) * count));
    if (values == nullptr) return nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t cut = text.find('\\');
        values[i] = parse(text.substr(0, cut)).value_or(invalid);
        text = cut == std::string_view::npos ? std::string_view{} : text.substr(cut + 1);
    }
    return values;
}

// Bulk values never join the preloaded tags: one file whose pixel data was read whole would
// otherwise make every later deferred read load the pixel data of each file it parses.
bool Preloadable(const CDicomElement& element) {
    constexpr uint32_t kMaxPreloadedLength = 64 * 1024;
    const uint32_t tag = element.Tag();
    return (tag >> 16) != 0x7FE0 && element.length <= kMaxPreloadedLength;
}

}  // namespace

bool IsValidFloat(float value) { return !std::isnan(value); }

std::optional<double> ParseDecimal(std::string_view text) {
    text = TrimBlanks(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return {};
    return value;
}

std::optional<int32_t> ParseInteger(std::string_view text) {
    text = TrimBlanks(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return {};
    return value;
}

std::string FormatFixed(double value) {
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      std::chars_format::fixed, 6);
    return std::string(buffer, result.ptr);
}

std::string FormatGeneral(double value) {
    if (std::isnan(value)) return std::signbit(value) ? "-NAN" : "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      std::chars_format::general, 6);
    std::string text(buffer, result.ptr);
    // to_chars with a precision formats as printf's %g does; %G only capitalises the E.
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c == 'e' ? 'E' : c; });
    return text;
}

uint32_t CountTextValues(std::string_view text) {
    if (text.empty()) return 0;
    return 1 + static_cast<uint32_t>(std::count(text.begin(), text.end(), '\\'));
}

void SwapUnits(uint8_t* data, size_t length, int unitSize) {
    if (unitSize < 2) return;
    const size_t unit = static_cast<size_t>(unitSize);
    for (size_t i = 0; i + unit <= length; i += unit) std::reverse(data + i, data + i + unit);
}

void ReleaseValue(DicomValue& value) {
    CheckedFree(value.raw);
    CheckedFree(value.floats);
    CheckedFree(value.integers);
    CheckedFree(value.text);
    value = {};
}

void ParseValue(CDicomElement& element, uint8_t* raw, bool bigEndian) {
    CDicomDictionary* dictionary = CDicomDictionary::Instance();
    if (dictionary != nullptr && Preloadable(element)) dictionary->AddPreloaded(element.Tag());
    if (element.value != nullptr) ReleaseValue(*element.value);
    if (raw == nullptr) return;
    if (element.value == nullptr) {
        CheckedFree(raw);  // no value record could be made for it
        return;
    }
    DicomValue& stored = *element.value;
    stored.raw = raw;

    const VrCode vr = element.vr;
    if (VrIsMultiValuedText(vr)) {
        const auto* chars = reinterpret_cast<const char*>(raw);
        const std::string_view text(chars, strnlen(chars, element.length));
        const uint32_t count = std::min(CountTextValues(text), kMaxCount);
        element.count = static_cast<uint16_t>(count);
        if (count == 0) return;
        if (vr == VrCode::DS) {
            stored.floats = ParseComponents<float>(
                text, count, std::numeric_limits<float>::quiet_NaN(),
                [](std::string_view part) -> std::optional<float> {
                    const auto value = ParseDecimal(part);
                    if (!value) return {};
                    return static_cast<float>(*value);
                });
        } else if (vr == VrCode::IS) {
            stored.integers = ParseComponents<int32_t>(text, count, kInvalidInteger,
                                                       ParseInteger);
        }
        return;
    }
    const int unit = VrNumericUnitSize(vr);
    if (unit == 0) return;
    if (bigEndian) SwapUnits(raw, element.length, unit);
    // Bulk data (OW, OF, ...) keeps a count of one; numbers and tags count their units.
    const bool bulk = vr == VrCode::OW || vr == VrCode::OF || vr == VrCode::OD ||
                      vr == VrCode::OL || vr == VrCode::OV || vr == VrCode::US_SS_OW;
    if (!bulk) {
        const uint32_t units = element.length / static_cast<uint32_t>(vr == VrCode::AT ? 4 : unit);
        element.count = static_cast<uint16_t>(std::min(units, kMaxCount));
    }
}

}  // namespace vexel
