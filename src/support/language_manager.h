// Every user-interface text by numeric id: the built-in English table, the language files
// found on disk and the texts of the chosen language. A translation is used for an id only
// when it carries the CRC-32 of the current English text, so a file made for another
// version falls back to English wherever the English text changed. The language is chosen
// once at start-up; choosing or importing another takes effect at the next start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/language_settings.h"

namespace vexel {

struct LanguageEntry {
    std::filesystem::path path;  // empty for the built-in English
    std::string name;            // display name, at most 63 characters
    std::string code;            // "de", "pt-BR", ...: at most 15 characters
};

struct LanguageSetup {
    // "Languages" inside it is created and scanned first; empty: no user languages folder.
    std::filesystem::path userDataFolder;
    std::vector<std::filesystem::path> programFolders;  // shipped files, scanned next
    std::string localeName;                 // used when no choice is stored ("pl_PL.UTF-8")
    ILanguageSettings* settings = nullptr;  // not owned; may be null
};

class CLanguageManager {
public:
    // Menu commands of the language list are numbered from this id, entry 0 first.
    static constexpr uint32_t kFirstLanguageCommand = 12288;
    static constexpr size_t kMaxLanguages = 128;

    // English only until Initialise. The first manager alive becomes the process's.
    CLanguageManager();
    ~CLanguageManager();
    CLanguageManager(const CLanguageManager&) = delete;
    CLanguageManager& operator=(const CLanguageManager&) = delete;

    // The process's manager, or null before start-up and after shutdown.
    static CLanguageManager* Instance();

    // Creates the user languages folder, lists the language files, chooses the language and
    // loads its texts. False when the user languages folder could not be created (the
    // program folders are still used).
    bool Initialise(const LanguageSetup& setup);

    // The text to show for id; an empty string for ids without a text. Never changes after
    // Initialise, so any thread may read it.
    const std::string& GetString(uint32_t id) const;

    size_t LanguageCount() const { return m_languages.size(); }
    const LanguageEntry& Language(size_t index) const { return m_languages.at(index); }
    size_t ChosenIndex() const { return m_chosen; }
    // Translations of the loaded file that replaced an English text or added an id.
    size_t TranslatedCount() const { return m_translatedCount; }

    // Stores the entry's code for the next start when it differs from the running one.
    bool ChooseLanguage(size_t index);
    // True when the file has a "language" root and at least one translation this version
    // accepts. Nothing is stored.
    bool VerifyFile(const std::filesystem::path& path) const;
    // Copies the file to <user languages folder>/language_<code>.xml, stores its code for
    // the next start and lists the languages again. False, with nothing changed, when the
    // file has no "language" root with a name and a usable code.
    bool ImportFile(const std::filesystem::path& path);

    const std::filesystem::path& UserLanguagesFolder() const { return m_userFolder; }
    // The loaded file's "code" (at most 15 bytes) and "fullver" (at most 31) for crash reports.
    const std::string& LoadedCode() const { return m_loadedCode; }
    const std::string& LoadedFullVersion() const { return m_loadedFullVersion; }

private:
    void ListLanguages();
    void ScanFolder(const std::filesystem::path& folder);
    void ChooseEntry(const std::string& code);
    void LoadTexts();
    void LoadTranslations(const std::filesystem::path& path);
    uint32_t CheckValueOf(uint32_t id) const;

    std::vector<LanguageEntry> m_languages;
    size_t m_chosen = 0;
    std::map<uint32_t, uint32_t> m_checks;  // id -> CRC-32 of the English text
    std::map<uint32_t, std::string> m_texts;
    size_t m_translatedCount = 0;
    std::filesystem::path m_userFolder;
    std::vector<std::filesystem::path> m_programFolders;
    ILanguageSettings* m_settings = nullptr;
    std::string m_loadedCode;
    std::string m_loadedFullVersion;
};

// The text of id from the process's manager, or the built-in English when there is none.
const std::string& GetString(uint32_t id);

}  // namespace vexel
