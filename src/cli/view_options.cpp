#include "cli/view_options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "viewer/window_preset.h"

namespace vexel::cli {
namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

bool ParseLongOption(const char* text, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && errno == 0;
}

std::optional<int32_t> FindPresetOption(const CWindowPresetTable& presets,
                                        const std::string& name) {
    const std::string wanted = Lower(name);
    if (wanted == "default") return kPresetDefault;
    if (wanted == "full" || wanted == "full-dynamic") return kPresetFullDynamic;
    for (const WindowPreset& preset : presets.All()) {
        const std::string own = Lower(preset.name);
        if ((wanted.size() == 1 && wanted[0] == preset.key) || wanted == own ||
            (own.rfind("ct ", 0) == 0 && wanted == own.substr(3))) {
            return preset.id;
        }
    }
    return std::nullopt;
}

}  // namespace vexel::cli
