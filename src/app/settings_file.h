// The viewer's settings file: "Name=value" lines, names compared without regard to case.
// Lines this program does not know (comments, sections, other names) are kept as they are
// and written back unchanged. The program's own values live before the first "[section]".
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/atomic_file.h"

namespace vexel {

enum class SettingsLoadStatus {
    Loaded,
    Missing,     // no file: every value takes its first-run default
    Unreadable,  // exists but cannot be read, or is implausibly large; must not be overwritten
};

class CSettingsFile {
public:
    SettingsLoadStatus Load(const std::filesystem::path& path);
    void Parse(std::string_view text);
    std::string Serialize() const;

    // The first value of that name, unescaped; nullopt when absent.
    std::optional<std::string> Get(std::string_view name) const;
    // Replaces the first line of that name (dropping any repeats) or adds one.
    void Set(std::string_view name, std::string_view value);
    void Remove(std::string_view name);

private:
    // Index of the first line holding the name in the unnamed section, or npos.
    size_t FindLine(std::string_view name, size_t from) const;
    size_t FirstSectionLine() const;

    std::vector<std::string> m_lines;
};

// Values are written on one line: backslash, control bytes and blanks at either end are
// escaped (\\, \n, \r, \t, \xHH) so that any byte string survives the round trip.
std::string EscapeSettingValue(std::string_view value);
std::string UnescapeSettingValue(std::string_view text);

}  // namespace vexel
