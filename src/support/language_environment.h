// Where language files live and which language the user's session asks for.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vexel {

// $XDG_DATA_HOME/VexelViewer, else ~/.local/share/VexelViewer; empty when neither the
// variable (absolute) nor HOME is set.
std::filesystem::path DefaultUserDataFolder();

// <user data folder>/Languages: where imported language files go.
std::filesystem::path UserLanguagesFolder(const std::filesystem::path& userDataFolder);

// The folders of the language files shipped with the program, in search order: "languages"
// beside the executable (the build tree), then <prefix>/share/vexel/languages when the
// executable is in <prefix>/bin (an install).
std::vector<std::filesystem::path> ProgramLanguageFolders(const std::filesystem::path& exeFolder);

// The session's message locale: the first entry of LANGUAGE, else LC_ALL, LC_MESSAGES, LANG.
std::string SessionLocaleName();

// Primary language of a locale name ("pl_PL.UTF-8" -> "pl") mapped to the codes that have
// translations by default: de, fr, it, nl, pl, ru; every other language gives "en".
std::string DefaultLanguageCode(std::string_view localeName);

}  // namespace vexel
