// Folders and the default language code from the session.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "support/language_environment.h"

namespace vexel {
namespace {

TEST(LanguageEnvironmentTest, LocaleNamesMapToTranslatedCodes) {
    const std::pair<const char*, const char*> cases[] = {
        {"de_DE.UTF-8", "de"}, {"de_AT", "de"}, {"fr_CA.UTF-8", "fr"},  {"it", "it"},
        {"nl_BE@euro", "nl"},  {"pl_PL", "pl"}, {"ru_RU.KOI8-R", "ru"}, {"es_ES", "en"},
        {"en_GB", "en"},       {"C", "en"},     {"POSIX", "en"},        {"", "en"},
        {"deu", "en"},         {"pt-BR", "en"},
    };
    for (const auto& [locale, code] : cases)
        EXPECT_EQ(DefaultLanguageCode(locale), code) << locale;
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedVariable() { m_old ? setenv(m_name, m_old->c_str(), 1) : unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(LanguageEnvironmentTest, UserDataFolderFollowsXdgRules) {
    ScopedVariable home("HOME", "/home/someone");
    {
        ScopedVariable data("XDG_DATA_HOME", "/data/home");
        EXPECT_EQ(DefaultUserDataFolder(), "/data/home/VexelViewer");
    }
    {
        ScopedVariable data("XDG_DATA_HOME", "relative/path");
        EXPECT_EQ(DefaultUserDataFolder(), "/home/someone/.local/share/VexelViewer");
    }
    ScopedVariable data("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(DefaultUserDataFolder(), "/home/someone/.local/share/VexelViewer");
    EXPECT_EQ(UserLanguagesFolder("/u/VexelViewer"), "/u/VexelViewer/Languages");
}

}  // namespace
}  // namespace vexel
