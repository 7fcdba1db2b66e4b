// Option values that `vexel render` and `vexel export` share: whole numbers, pairs such as
// "512x512" or "40,400", and window presets by name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vexel {
class CWindowPresetTable;
}

namespace vexel::cli {

// A whole decimal number, nothing after it.
bool ParseLongOption(const char* text, long& value);

// "A<sep>B" into two values.
template <typename T, typename Parse>
bool ParsePair(const std::string& text, char separator, T& a, T& b, Parse parse) {
    const size_t at = text.find(separator);
    if (at == std::string::npos) return false;
    return parse(text.substr(0, at).c_str(), a) && parse(text.substr(at + 1).c_str(), b);
}

// A digit key, "default", "full", or a preset's name with or without its "CT " prefix.
std::optional<int32_t> FindPresetOption(const CWindowPresetTable& presets, const std::string& name);

}  // namespace vexel::cli
