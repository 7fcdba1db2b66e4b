#include "support/language_environment.h"

#include <array>
#include <cstdlib>
#include <system_error>

namespace vexel {

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

std::filesystem::path DefaultUserDataFolder() {
    const std::filesystem::path dataHome = Environment("XDG_DATA_HOME");
    // Relative values are invalid by the XDG rules and are ignored.
    if (dataHome.is_absolute()) return dataHome / "VexelViewer";
    const std::string home = Environment("HOME");
    if (home.empty()) return {};
    return std::filesystem::path(home) / ".local" / "share" / "VexelViewer";
}

std::filesystem::path UserLanguagesFolder(const std::filesystem::path& userDataFolder) {
    return userDataFolder / "Languages";
}

std::vector<std::filesystem::path> ProgramLanguageFolders(const std::filesystem::path& exeFolder) {
    std::vector<std::filesystem::path> folders;
    if (exeFolder.empty()) return folders;
    folders.push_back(exeFolder / "languages");
    if (exeFolder.filename() == "bin") {
        folders.push_back(exeFolder.parent_path() / "share" / "vexel" / "languages");
    }
    return folders;
}

std::string SessionLocaleName() {
    std::string languages = Environment("LANGUAGE");
    languages = languages.substr(0, languages.find(':'));
    if (!languages.empty()) return languages;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        std::string value = Environment(name);
        if (!value.empty()) return value;
    }
    return {};
}

std::string DefaultLanguageCode(std::string_view localeName) {
    const std::string_view primary = localeName.substr(0, localeName.find_first_of("_.@-"));
    static constexpr std::array<std::string_view, 6> kTranslated = {"de", "fr", "it",
                                                                    "nl", "pl", "ru"};
    for (std::string_view code : kTranslated) {
        if (primary == code) return std::string(code);
    }
    return "en";
}

}  // namespace vexel
