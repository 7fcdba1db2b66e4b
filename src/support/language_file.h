// Reading of one XML language file. Files come from users and downloads, so everything is
// bounded: only regular files (no links, pipes or devices) of at most kMaxLanguageFileBytes
// are read, numbers are parsed strictly and texts must be valid UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexel {

inline constexpr size_t kMaxLanguageFileBytes = 1 << 20;
inline constexpr size_t kMaxTranslationBytes = 4096;
inline constexpr size_t kMaxTranslations = 4096;

enum class LanguageFileStatus {
    Ok,
    CannotOpen,         // missing, unreadable, or a symbolic link
    NotRegularFile,     // folder, pipe, device, socket
    TooLarge,           // more than kMaxLanguageFileBytes
    NotXml,             // tinyxml2 refused it (syntax, nesting too deep, ...)
    NoLanguageRoot,     // no top-level "language" element
    MissingNameOrCode,  // "name" or "code" absent, empty or not UTF-8
};

const char* LanguageFileStatusText(LanguageFileStatus status);

struct Translation {
    uint32_t id = 0;
    uint32_t check = 0;  // CRC-32 of the English text the translation was made from
    std::string text;    // UTF-8
};

struct LanguageFileContent {
    LanguageFileStatus status = LanguageFileStatus::CannotOpen;
    std::string name;
    std::string code;
    std::string fullVersion;
    // The usable children of "strings" in document order: a non-zero decimal id, a
    // hexadecimal check value and a UTF-8 text. Filled whenever the root was found, even
    // when the name or the code is missing.
    std::vector<Translation> translations;
    std::string bytes;  // the file as read, for copying it elsewhere
};

LanguageFileContent ParseLanguageFile(std::string_view bytes);
LanguageFileContent ReadLanguageFile(const std::filesystem::path& path);

// Strict parsers of the "i" and "c" attributes; false for anything but the plain forms.
std::optional<uint32_t> ParseTextId(std::string_view digits);
std::optional<uint32_t> ParseCheckValue(std::string_view hex);

}  // namespace vexel
