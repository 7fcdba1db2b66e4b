#include "app/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <system_error>

namespace vexel {

namespace {

// A settings file is a few hundred bytes; anything much larger is not ours to parse.
constexpr off_t kMaxSettingsFileSize = 1 << 20;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool IsSectionLine(std::string_view line) {
    std::string_view text = Trim(line);
    return !text.empty() && text.front() == '[';
}

// Splits "name = value"; false for blank lines, comments and lines without '='.
bool SplitLine(std::string_view line, std::string_view& name, std::string_view& value) {
    std::string_view text = Trim(line);
    if (text.empty() || text.front() == ';' || text.front() == '#') return false;
    size_t equals = text.find('=');
    if (equals == std::string_view::npos) return false;
    name = Trim(text.substr(0, equals));
    value = Trim(text.substr(equals + 1));
    return !name.empty();
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendHexEscape(std::string& out, unsigned char byte) {
    static const char kDigits[] = "0123456789ABCDEF";
    out += "\\x";
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0x0F]);
}

bool ReadWholeFile(int fd, std::string& text) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxSettingsFileSize)
        return false;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > static_cast<size_t>(kMaxSettingsFileSize)) return false;
    }
}

}  // namespace

SettingsLoadStatus CSettingsFile::Load(const std::filesystem::path& path) {
    m_lines.clear();
    if (path.empty()) return SettingsLoadStatus::Missing;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? SettingsLoadStatus::Missing : SettingsLoadStatus::Unreadable;
    std::string text;
    bool read = ReadWholeFile(fd, text);
    close(fd);
    if (!read) return SettingsLoadStatus::Unreadable;
    Parse(text);
    return SettingsLoadStatus::Loaded;
}

void CSettingsFile::Parse(std::string_view text) {
    m_lines.clear();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        m_lines.emplace_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
}

std::string CSettingsFile::Serialize() const {
    std::string text;
    for (const std::string& line : m_lines) {
        text += line;
        text += '\n';
    }
    return text;
}

size_t CSettingsFile::FirstSectionLine() const {
    for (size_t i = 0; i < m_lines.size(); ++i)
        if (IsSectionLine(m_lines[i])) return i;
    return m_lines.size();
}

size_t CSettingsFile::FindLine(std::string_view name, size_t from) const {
    const size_t end = FirstSectionLine();
    for (size_t i = from; i < end; ++i) {
        std::string_view lineName, value;
        if (SplitLine(m_lines[i], lineName, value) && EqualsIgnoringCase(lineName, name)) return i;
    }
    return std::string::npos;
}

std::optional<std::string> CSettingsFile::Get(std::string_view name) const {
    size_t index = FindLine(name, 0);
    if (index == std::string::npos) return std::nullopt;
    std::string_view lineName, value;
    SplitLine(m_lines[index], lineName, value);
    return UnescapeSettingValue(value);
}

void CSettingsFile::Set(std::string_view name, std::string_view value) {
    std::string line = std::string(name) + "=" + EscapeSettingValue(value);
    size_t index = FindLine(name, 0);
    if (index == std::string::npos) {
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(FirstSectionLine()), line);
        return;
    }
    m_lines[index] = line;
    for (size_t repeat = FindLine(name, index + 1); repeat != std::string::npos;
         repeat = FindLine(name, repeat))
        m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(repeat));
}

void CSettingsFile::Remove(std::string_view name) {
    for (size_t index = FindLine(name, 0); index != std::string::npos;
         index = FindLine(name, index))
        m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(index));
}

std::string EscapeSettingValue(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        const bool atEdge = i == 0 || i + 1 == value.size();
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F || (c == ' ' && atEdge)) {
            AppendHexEscape(out, c);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::string UnescapeSettingValue(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (c != '\\' || next == '\0') {
            out.push_back(c);
        } else if (next == '\\' || next == 'n' || next == 'r' || next == 't') {
            out.push_back(next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : '\\');
            ++i;
        } else if (next == 'x' && i + 3 < text.size() && HexValue(text[i + 2]) >= 0 &&
                   HexValue(text[i + 3]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3])));
            i += 3;
        } else {
            out.push_back(c);  // not an escape we write: keep the backslash
        }
    }
    return out;
}

}  // namespace vexel
