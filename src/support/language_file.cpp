#include "support/language_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/unique_fd.h"
#include "support/utf8_text.h"

namespace vexel {

namespace {

// O_NOFOLLOW refuses links and O_NONBLOCK keeps a pipe without writer from blocking the
// open; fstat then refuses everything that is not a regular file before a byte is read.
LanguageFileStatus ReadBytes(const std::filesystem::path& path, std::string& bytes) {
    bytes.clear();
    const UniqueFd file(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.Get() < 0) return LanguageFileStatus::CannotOpen;
    struct stat info {};
    if (fstat(file.Get(), &info) != 0) return LanguageFileStatus::CannotOpen;
    if (!S_ISREG(info.st_mode)) return LanguageFileStatus::NotRegularFile;
    if (info.st_size > static_cast<off_t>(kMaxLanguageFileBytes)) {
        return LanguageFileStatus::TooLarge;
    }
    std::array<char, 65536> buffer;
    for (;;) {
        const ssize_t n = read(file.Get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return LanguageFileStatus::CannotOpen;
        if (n == 0) break;
        // The file may grow after fstat: the limit holds for what is actually read.
        if (bytes.size() + static_cast<size_t>(n) > kMaxLanguageFileBytes) {
            bytes.clear();
            return LanguageFileStatus::TooLarge;
        }
        bytes.append(buffer.data(), static_cast<size_t>(n));
    }
    return LanguageFileStatus::Ok;
}

// The attribute as UTF-8 text, or nothing when absent, empty or not UTF-8.
std::optional<std::string> TextAttribute(const tinyxml2::XMLElement* element, const char* name) {
    const char* value = element->Attribute(name);
    if (value == nullptr || *value == '\0' || !IsValidUtf8(value)) return std::nullopt;
    return std::string(value);
}

std::optional<Translation> ReadTranslation(const tinyxml2::XMLElement* child) {
    const char* idText = child->Attribute("i");
    const char* checkText = child->Attribute("c");
    const char* text = child->GetText();
    if (idText == nullptr || checkText == nullptr || text == nullptr) return std::nullopt;
    const std::optional<uint32_t> id = ParseTextId(idText);
    const std::optional<uint32_t> check = ParseCheckValue(checkText);
    if (!id || *id == 0 || !check) return std::nullopt;
    const size_t length = std::strlen(text);
    if (length == 0 || length > kMaxTranslationBytes) return std::nullopt;
    const std::string_view view(text, length);
    if (!IsValidUtf8(view)) return std::nullopt;
    return Translation{*id, *check, std::string(view)};
}

void ReadTranslations(const tinyxml2::XMLElement* root, std::vector<Translation>& out) {
    const tinyxml2::XMLElement* strings = root->FirstChildElement("strings");
    if (strings == nullptr) return;
    for (const tinyxml2::XMLElement* child = strings->FirstChildElement(); child != nullptr;
         child = child->NextSiblingElement()) {
        if (out.size() >= kMaxTranslations) return;
        if (std::optional<Translation> entry = ReadTranslation(child)) {
            out.push_back(std::move(*entry));
        }
    }
}

}  // namespace

const char* LanguageFileStatusText(LanguageFileStatus status) {
    switch (status) {
        case LanguageFileStatus::Ok:
            return "ok";
        case LanguageFileStatus::CannotOpen:
            return "cannot open the file";
        case LanguageFileStatus::NotRegularFile:
            return "not a regular file";
        case LanguageFileStatus::TooLarge:
            return "file too large for a language file";
        case LanguageFileStatus::NotXml:
            return "not well-formed XML";
        case LanguageFileStatus::NoLanguageRoot:
            return "no \"language\" element";
        case LanguageFileStatus::MissingNameOrCode:
            return "language name or code missing";
    }
    return "unknown";
}

LanguageFileContent ParseLanguageFile(std::string_view bytes) {
    LanguageFileContent content;
    auto document = std::make_unique<tinyxml2::XMLDocument>(true, tinyxml2::PRESERVE_WHITESPACE);
    if (document->Parse(bytes.data(), bytes.size()) != tinyxml2::XML_SUCCESS) {
        content.status = LanguageFileStatus::NotXml;
        return content;
    }
    const tinyxml2::XMLElement* root = document->FirstChildElement("language");
    if (root == nullptr) {
        content.status = LanguageFileStatus::NoLanguageRoot;
        return content;
    }
    ReadTranslations(root, content.translations);
    std::optional<std::string> name = TextAttribute(root, "name");
    std::optional<std::string> code = TextAttribute(root, "code");
    if (std::optional<std::string> version = TextAttribute(root, "fullver")) {
        content.fullVersion = std::move(*version);
    }
    if (!name || !code) {
        content.status = LanguageFileStatus::MissingNameOrCode;
        return content;
    }
    content.name = std::move(*name);
    content.code = std::move(*code);
    content.status = LanguageFileStatus::Ok;
    return content;
}

LanguageFileContent ReadLanguageFile(const std::filesystem::path& path) {
    std::string bytes;
    const LanguageFileStatus status = ReadBytes(path, bytes);
    if (status != LanguageFileStatus::Ok) {
        LanguageFileContent content;
        content.status = status;
        return content;
    }
    LanguageFileContent content = ParseLanguageFile(bytes);
    content.bytes = std::move(bytes);
    return content;
}

std::optional<uint32_t> ParseTextId(std::string_view digits) {
    if (digits.empty() || digits.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(value);
}

std::optional<uint32_t> ParseCheckValue(std::string_view hex) {
    if (hex.size() > 2 && hex[0] == '0' && (hex[1] == 'x' || hex[1] == 'X')) hex.remove_prefix(2);
    if (hex.empty() || hex.size() > 8) return std::nullopt;
    uint32_t value = 0;
    for (char c : hex) {
        uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value << 4 | digit;
    }
    return value;
}

}  // namespace vexel
