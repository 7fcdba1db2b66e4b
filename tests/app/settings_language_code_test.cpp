// The language choice kept in the settings file: chosen during a run, kept by the save at
// exit, and used by the next start to load the shipped German file.
#include <gtest/gtest.h>

#include "app/options.h"
#include "app/settings_language_code.h"
#include "common/test_paths.h"
#include "support/language_manager.h"

namespace vexel {
namespace {

TEST(SettingsLanguageCode, ChoiceSurvivesTheSaveAtExitAndSelectsTheLanguage) {
    const auto root = test::ScratchDir("language-code");
    const UserBaseFolders folders{root / "data", root / "config"};
    {
        COptions options(folders);
        options.LoadSettings();
        CSettingsLanguageCode code(options.SettingsPath());
        EXPECT_FALSE(code.LanguageCode());
        ASSERT_TRUE(code.SetLanguageCode("de"));
        EXPECT_TRUE(options.SaveSettings());
    }
    COptions options(folders);
    CSettingsLanguageCode code(options.SettingsPath());
    EXPECT_EQ(code.LanguageCode(), "de");

    CLanguageManager languages;
    ASSERT_TRUE(languages.Initialise({options.UserDataFolder(),
                                      {test::SourceDir() / "data" / "languages"},
                                      "en_GB.UTF-8",
                                      &code}));
    EXPECT_EQ(languages.LoadedCode(), "de");
    EXPECT_EQ(languages.GetString(1), "Ja");
    EXPECT_EQ(languages.GetString(2), "Nein");
}

}  // namespace
}  // namespace vexel
