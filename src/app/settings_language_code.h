// The chosen language kept in the settings file as "LanguageCode". A choice is written at
// once (atomically); the save at exit reads the file again, so it keeps the choice.
#pragma once

#include <filesystem>

#include "support/language_settings.h"

namespace vexel {

class CSettingsLanguageCode final : public ILanguageSettings {
public:
    explicit CSettingsLanguageCode(std::filesystem::path settingsPath)
        : m_path(std::move(settingsPath)) {}

    std::optional<std::string> LanguageCode() const override;
    bool SetLanguageCode(const std::string& code) override;

private:
    std::filesystem::path m_path;  // empty: nothing stored
};

}  // namespace vexel
