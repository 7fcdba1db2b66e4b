#include "support/language_manager.h"

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <system_error>

#include "support/crc32.h"
#include "support/language_environment.h"
#include "support/language_file.h"
#include "support/text_table.h"
#include "support/utf8_text.h"

namespace vexel {

namespace {

std::atomic<CLanguageManager*> g_instance{nullptr};

// A folder with many entries is a mistake or an attack; a language menu needs few.
constexpr size_t kMaxFolderEntries = 4096;
constexpr size_t kMaxNameCharacters = 63;
constexpr size_t kMaxCodeCharacters = 15;
constexpr size_t kMaxFullVersionBytes = 31;

const std::string kEmpty;

bool IsLookedUp(const TextRow& row) {
    return row.kind != TextKind::Section;
}

LanguageEntry EnglishEntry() {
    return LanguageEntry{{}, "English", "en"};
}

// The code becomes part of a file name on import: letters, digits, '-' and '_' only, so
// that no code can point outside the languages folder.
bool IsFileNameSafeCode(const std::string& code) {
    if (code.empty() || code.size() > kMaxCodeCharacters) return false;
    return std::all_of(code.begin(), code.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    });
}

// Writes beside the target and renames, so an interrupted import never leaves half a file.
bool ReplaceFile(const std::filesystem::path& target, const std::string& bytes) {
    std::filesystem::path temporary = target;
    temporary += ".tmp" + std::to_string(getpid());
    FILE* out = std::fopen(temporary.c_str(), "wbx");
    if (out == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    std::error_code ec;
    if (std::fclose(out) != 0 || !written) {
        std::filesystem::remove(temporary, ec);
        return false;
    }
    std::filesystem::rename(temporary, target, ec);
    if (ec) std::filesystem::remove(temporary, ec);
    return !ec;
}

}  // namespace

CLanguageManager::CLanguageManager() {
    CLanguageManager* expected = nullptr;
    g_instance.compare_exchange_strong(expected, this);
    m_languages.push_back(EnglishEntry());
    for (const TextRow& row : BuiltInTextTable()) {
        if (IsLookedUp(row)) m_checks.emplace(row.id, Crc32(row.text));
    }
    LoadTexts();
}

CLanguageManager::~CLanguageManager() {
    CLanguageManager* expected = this;
    g_instance.compare_exchange_strong(expected, nullptr);
}

CLanguageManager* CLanguageManager::Instance() {
    return g_instance.load();
}

bool CLanguageManager::Initialise(const LanguageSetup& setup) {
    m_settings = setup.settings;
    // Without a user data folder (no HOME) only the program's files are listed.
    m_userFolder.clear();
    if (!setup.userDataFolder.empty())
        m_userFolder = vexel::UserLanguagesFolder(setup.userDataFolder);
    m_programFolders = setup.programFolders;
    std::error_code ec;
    if (!m_userFolder.empty()) std::filesystem::create_directories(m_userFolder, ec);
    const bool haveUserFolder =
        !m_userFolder.empty() && std::filesystem::is_directory(m_userFolder, ec);
    ListLanguages();
    std::optional<std::string> stored;
    if (m_settings != nullptr) stored = m_settings->LanguageCode();
    ChooseEntry(stored ? *stored : DefaultLanguageCode(setup.localeName));
    LoadTexts();
    return haveUserFolder;
}

const std::string& CLanguageManager::GetString(uint32_t id) const {
    const auto found = m_texts.find(id);
    return found != m_texts.end() ? found->second : kEmpty;
}

bool CLanguageManager::ChooseLanguage(size_t index) {
    if (index == m_chosen || index >= m_languages.size() || m_settings == nullptr) return false;
    return m_settings->SetLanguageCode(m_languages[index].code);
}

bool CLanguageManager::VerifyFile(const std::filesystem::path& path) const {
    const LanguageFileContent content = ReadLanguageFile(path);
    if (content.status != LanguageFileStatus::Ok &&
        content.status != LanguageFileStatus::MissingNameOrCode) {
        return false;
    }
    return std::any_of(content.translations.begin(), content.translations.end(),
                       [this](const Translation& t) { return t.check == CheckValueOf(t.id); });
}

bool CLanguageManager::ImportFile(const std::filesystem::path& path) {
    const LanguageFileContent content = ReadLanguageFile(path);
    if (content.status != LanguageFileStatus::Ok || !IsFileNameSafeCode(content.code)) {
        return false;
    }
    if (m_userFolder.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(m_userFolder, ec);
    if (!ReplaceFile(m_userFolder / ("language_" + content.code + ".xml"), content.bytes)) {
        return false;
    }
    if (m_settings != nullptr) m_settings->SetLanguageCode(content.code);
    // The running texts stay; the chosen index keeps pointing at the running language.
    const LanguageEntry running = m_languages[m_chosen];
    ListLanguages();
    for (size_t i = 0; i < m_languages.size(); ++i) {
        if (m_languages[i].path == running.path && m_languages[i].code == running.code) {
            m_chosen = i;
            break;
        }
    }
    return true;
}

void CLanguageManager::ListLanguages() {
    m_languages.clear();
    m_languages.push_back(EnglishEntry());
    m_chosen = 0;
    if (!m_userFolder.empty()) ScanFolder(m_userFolder);
    for (const std::filesystem::path& folder : m_programFolders)
        ScanFolder(folder);
}

void CLanguageManager::ScanFolder(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec), end;
    for (size_t seen = 0; !ec && it != end && seen < kMaxFolderEntries; it.increment(ec), ++seen) {
        std::string name = it->path().filename().string();
        if (name.find(".xml") != std::string::npos) names.push_back(std::move(name));
    }
    // Directory order is arbitrary on Linux; sorted names make the first of two files with
    // the same code a stable choice.
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (m_languages.size() >= kMaxLanguages) return;
        const LanguageFileContent content = ReadLanguageFile(folder / name);
        if (content.status != LanguageFileStatus::Ok) continue;
        m_languages.push_back(LanguageEntry{folder / name,
                                            CutUtf8(content.name, kMaxNameCharacters, SIZE_MAX),
                                            CutUtf8(content.code, kMaxCodeCharacters, SIZE_MAX)});
    }
}

void CLanguageManager::ChooseEntry(const std::string& code) {
    for (size_t i = 0; i < m_languages.size(); ++i) {
        if (m_languages[i].code == code) {
            m_chosen = i;
            return;
        }
    }
}

void CLanguageManager::LoadTexts() {
    m_texts.clear();
    m_translatedCount = 0;
    m_loadedCode.clear();
    m_loadedFullVersion.clear();
    if (!m_languages[m_chosen].path.empty()) LoadTranslations(m_languages[m_chosen].path);
    m_translatedCount = m_texts.size();
    // English fills every id the translation left out; an emplace never replaces.
    for (const TextRow& row : BuiltInTextTable()) {
        if (IsLookedUp(row)) m_texts.emplace(row.id, row.text);
    }
}

void CLanguageManager::LoadTranslations(const std::filesystem::path& path) {
    LanguageFileContent content = ReadLanguageFile(path);
    if (content.status != LanguageFileStatus::Ok) return;
    m_loadedCode = CutUtf8(content.code, kMaxCodeCharacters, kMaxCodeCharacters);
    m_loadedFullVersion = CutUtf8(content.fullVersion, SIZE_MAX, kMaxFullVersionBytes);
    for (Translation& t : content.translations) {
        // Ids the program has no text for are taken only with check value 0.
        if (t.check == CheckValueOf(t.id)) m_texts.emplace(t.id, std::move(t.text));
    }
}

uint32_t CLanguageManager::CheckValueOf(uint32_t id) const {
    const auto found = m_checks.find(id);
    return found != m_checks.end() ? found->second : 0;
}

const std::string& GetString(uint32_t id) {
    if (const CLanguageManager* manager = CLanguageManager::Instance()) {
        return manager->GetString(id);
    }
    static const std::map<uint32_t, std::string> english = [] {
        std::map<uint32_t, std::string> texts;
        for (const TextRow& row : BuiltInTextTable()) {
            if (IsLookedUp(row)) texts.emplace(row.id, row.text);
        }
        return texts;
    }();
    const auto found = english.find(id);
    return found != english.end() ? found->second : kEmpty;
}

}  // namespace vexel
