#include "app/settings_language_code.h"

#include "app/settings_file.h"

namespace vexel {

namespace {
constexpr std::string_view kValueName = "LanguageCode";
}

std::optional<std::string> CSettingsLanguageCode::LanguageCode() const {
    if (m_path.empty()) return std::nullopt;
    CSettingsFile file;
    if (file.Load(m_path) != SettingsLoadStatus::Loaded) return std::nullopt;
    return file.Get(kValueName);
}

bool CSettingsLanguageCode::SetLanguageCode(const std::string& code) {
    if (m_path.empty()) return false;
    CSettingsFile file;
    // A file we cannot read is never replaced.
    if (file.Load(m_path) == SettingsLoadStatus::Unreadable) return false;
    file.Set(kValueName, code);
    std::error_code ignored;
    std::filesystem::create_directories(m_path.parent_path(), ignored);
    return WriteFileAtomically(m_path, file.Serialize());
}

}  // namespace vexel
