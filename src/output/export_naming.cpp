#include "output/export_naming.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace vexel {
namespace {

constexpr size_t kMaxFolderName = 100;
constexpr size_t kMaxPrefix = 200;
constexpr uint32_t kMaxSuffix = 10000;  // "_2" .. "_10000", then the folder is refused

// Length of the well-formed UTF-8 sequence at text[i] (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF); 0 when the byte does not start one.
size_t Utf8Length(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return length;
}

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// C1 controls (U+0080..U+009F, "\xC2\x80".."\xC2\x9F") act as escapes on some terminals.
bool IsC1Control(std::string_view text, size_t i, size_t length) {
    return length == 2 && static_cast<unsigned char>(text[i]) == 0xC2 &&
           static_cast<unsigned char>(text[i + 1]) <= 0x9F;
}

bool IsReserved(char c) {
    return std::strchr("/\\:*?\"<>|", c) != nullptr;
}

char FoldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Folded(std::string_view text) {
    std::string folded(text);
    for (char& c : folded)
        c = FoldAscii(c);
    return folded;
}

// Valid UTF-8 cut to at most maxBytes without splitting a character.
void CutUtf8(std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes) return;
    size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
}

void StripDotsAndSpaces(std::string& text) {
    const size_t first = text.find_first_not_of(". ");
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    text.erase(text.find_last_not_of(". ") + 1);
    text.erase(0, first);
}

// Windows opens the device, not a file, for these stems whatever the extension.
bool IsDeviceStem(std::string_view stem) {
    while (!stem.empty() && stem.back() == ' ')
        stem.remove_suffix(1);
    const std::string folded = Folded(stem);
    if (folded == "con" || folded == "prn" || folded == "aux" || folded == "nul") return true;
    return folded.size() == 4 && (folded.starts_with("com") || folded.starts_with("lpt")) &&
           folded[3] >= '1' && folded[3] <= '9';
}

// head + value with at least digits digits ("IMG-", 4, 7 gives "IMG-0007").
std::string Numbered(std::string_view head, int digits, uint32_t value) {
    char number[16];
    std::snprintf(number, sizeof number, "%0*u", digits, value);
    return std::string(head) + number;
}

bool IsDirectChild(const std::filesystem::path& parent, const std::filesystem::path& child) {
    std::error_code ec;
    const std::filesystem::path realParent = std::filesystem::weakly_canonical(parent, ec);
    if (ec) return false;
    const std::filesystem::path realChild = std::filesystem::weakly_canonical(child, ec);
    return !ec && realChild.parent_path() == realParent && realChild.filename() == child.filename();
}

std::set<std::string> FoldedEntries(const std::filesystem::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        names.insert(Folded(it->path().filename().string()));
    }
    return names;
}

void SetError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

}  // namespace

std::string SafeFolderName(std::string_view name) {
    std::string safe;
    safe.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        const size_t length = Utf8Length(name, i);
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (length == 0 || (length == 1 && (IsControl(c) || IsReserved(name[i]))) ||
            IsC1Control(name, i, length)) {
            safe += '_';
            i += length == 0 ? 1 : length;
        } else {
            safe.append(name.substr(i, length));
            i += length;
        }
    }
    CutUtf8(safe, kMaxFolderName);
    StripDotsAndSpaces(safe);
    const size_t stemEnd = std::min(safe.find('.'), safe.size());
    if (!safe.empty() && IsDeviceStem(std::string_view(safe).substr(0, stemEnd))) {
        safe.insert(stemEnd, "_");
        CutUtf8(safe, kMaxFolderName);
        StripDotsAndSpaces(safe);
    }
    return safe;
}

std::string DateFolderName(std::string_view dateTime) {
    std::string text;
    for (size_t i = 0; i < dateTime.size();) {
        const char c = dateTime[i];
        const bool alphanumeric =
            (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        text += alphanumeric ? c : '_';
        i += std::max<size_t>(1, Utf8Length(dateTime, i));  // one "_" per character
    }
    return SafeFolderName(text);
}

bool PrefixIsValid(std::string_view prefix) {
    if (prefix.size() > kMaxPrefix) return false;
    for (char c : prefix) {
        if (c == '/' || c == '\\' || IsControl(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

std::string DefaultPrefix(uint32_t run) {
    return Numbered("IMG-", 4, run) + "-";
}

std::string ImageFileName(std::string_view prefix, uint32_t number, std::string_view extension) {
    std::string name(prefix);
    name += Numbered("", 5, number);
    name += '.';
    name += extension;
    return name;
}

std::string MovieFileName(std::string_view prefixOrEmpty, uint32_t counter,
                          std::string_view extension) {
    return ImageFileName(prefixOrEmpty.empty() ? "movie" : prefixOrEmpty, counter, extension);
}

uint32_t FirstFreeRun(const std::filesystem::path& folder, uint32_t from) {
    const std::set<std::string> entries = FoldedEntries(folder);
    uint32_t run = std::max<uint32_t>(from, 1);
    // Each step passes one taken run, so the loop ends within entries.size() + 1 steps.
    for (;;) {
        const std::string prefix = Folded(DefaultPrefix(run));
        const auto next = entries.lower_bound(prefix);
        if (next == entries.end() || !next->starts_with(prefix)) return run;
        if (run == UINT32_MAX) return 0;
        ++run;
    }
}

std::optional<std::filesystem::path> ExportFolder(std::string_view typed) {
    if (typed.empty() || typed.find('\0') != std::string_view::npos) return std::nullopt;
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::canonical(std::string(typed), ec);
    if (ec || !std::filesystem::is_directory(folder, ec) || ec) return std::nullopt;
    return folder;
}

CExportFolders::CExportFolders(std::filesystem::path exportFolder, bool anonymous)
    : m_exportFolder(std::move(exportFolder)), m_anonymous(anonymous) {}

std::optional<std::filesystem::path> CExportFolders::AddPatient(std::string_view displayedName,
                                                                std::string* error) {
    m_patientFolder.reset();
    m_studies = 0;
    m_undatedStudies = 0;
    m_studyNames.clear();
    ++m_patients;
    std::string base =
        m_anonymous ? Numbered("PATIENT", 3, m_patients) : SafeFolderName(displayedName);
    if (base.empty()) base = Numbered("UNKNOWN", 3, ++m_unnamedPatients);
    m_patientFolder = MakeUnique(m_exportFolder, base, m_patientNames, error);
    return m_patientFolder;
}

std::optional<std::filesystem::path> CExportFolders::AddStudy(std::string_view displayedDateTime,
                                                              std::string* error) {
    if (!m_patientFolder) {
        SetError(error, "no patient folder");
        return std::nullopt;
    }
    ++m_studies;
    std::string base =
        m_anonymous ? Numbered("STUDY", 2, m_studies) : DateFolderName(displayedDateTime);
    if (base.empty()) base = Numbered("UNKNOWN", 2, ++m_undatedStudies);
    return MakeUnique(*m_patientFolder, base, m_studyNames, error);
}

std::optional<std::filesystem::path> CExportFolders::MakeUnique(const std::filesystem::path& parent,
                                                                const std::string& base,
                                                                std::set<std::string>& made,
                                                                std::string* error) {
    const std::set<std::string> onDisk = FoldedEntries(parent);
    for (uint32_t n = 1; n <= kMaxSuffix; ++n) {
        const std::string suffix = n == 1 ? "" : Numbered("_", 1, n);
        std::string name = base;
        CutUtf8(name, kMaxFolderName - suffix.size());
        name += suffix;
        const std::string folded = Folded(name);
        if (made.contains(folded) || onDisk.contains(folded)) continue;
        const std::filesystem::path folder = parent / name;
        // The name comes from SafeFolderName; refuse anything that would still leave the parent.
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
            !IsDirectChild(parent, folder)) {
            SetError(error, "unsafe folder name: " + name);
            return std::nullopt;
        }
        if (mkdir(folder.c_str(), 0777) != 0) {
            if (errno == EEXIST) continue;  // appeared since the listing, or differs by case only
            SetError(error, folder.string() + ": " + std::generic_category().message(errno));
            return std::nullopt;
        }
        made.insert(folded);
        return folder;
    }
    SetError(error, (parent / base).string() + ": no free name");
    return std::nullopt;
}

}  // namespace vexel
