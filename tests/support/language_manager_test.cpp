// Listing, choosing, loading and importing languages in scratch folders.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "common/test_paths.h"
#include "language_test_files.h"
#include "support/language_file.h"
#include "support/language_manager.h"

namespace vexel {
namespace {

using test::LanguageXml;
using test::XmlText;

// CRC-32 of the English texts, from Python's zlib.crc32.
constexpr const char* kYesCheck = "4DAA7349";     // "Yes"
constexpr const char* kNoCheck = "F22E0CBD";      // "No"
constexpr const char* kCancelCheck = "51BAC044";  // "Cancel"

class LanguageManagerTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        m_root = test::ScratchDir("language_manager_" + name);
        m_userData = m_root / "user";
        m_program = m_root / "program";
        std::filesystem::create_directories(m_userData / "Languages");
        std::filesystem::create_directories(m_program);
    }

    LanguageSetup Setup(const std::string& locale = "C") {
        return LanguageSetup{m_userData, {m_program}, locale, &m_settings};
    }
    std::filesystem::path UserFile(const std::string& name) const {
        return m_userData / "Languages" / name;
    }

    std::filesystem::path m_root, m_userData, m_program;
    test::MemoryLanguageSettings m_settings;
};

TEST_F(LanguageManagerTest, EnglishWithoutFilesAndLocaleChoosesWhenNothingIsStored) {
    CLanguageManager english;
    EXPECT_TRUE(english.Initialise(Setup()));
    ASSERT_EQ(english.LanguageCount(), 1u);
    EXPECT_EQ(english.Language(0).code, "en");
    EXPECT_EQ(english.GetString(0), "");
    EXPECT_EQ(english.GetString(12345), "");
    test::WriteFile(m_program / "pl.xml", LanguageXml("Polski", "pl", {{"1", kYesCheck, "Tak"}}));
    const std::pair<const char*, const char*> cases[] = {
        {"pl_PL.UTF-8", "Tak"}, {"pl", "Tak"}, {"de_DE.UTF-8", "Yes"}, {"C", "Yes"}, {"", "Yes"}};
    for (const auto& [locale, yes] : cases) {
        CLanguageManager manager;
        manager.Initialise(Setup(locale));
        EXPECT_EQ(manager.GetString(1), yes) << locale;
    }
}

TEST_F(LanguageManagerTest, OnlyTextsWithTheCurrentCheckValueAreTranslated) {
    const std::vector<XmlText> texts = {
        {"1", kYesCheck, "Ja"},            // current English
        {"2", "12345678", "Nein"},         // made for another English text
        {"3", kCancelCheck, "Abbrechen"},  // current
        {"3", kCancelCheck, "Storno"},     // duplicate: the first wins
        {"50000", "0", "Extra"},           // no built-in text, check value 0
        {"50001", kNoCheck, "Refused"},    // no built-in text, other check value
    };
    test::WriteFile(UserFile("de.xml"), LanguageXml("Deutsch", "de", texts));
    m_settings.stored = "de";
    CLanguageManager manager;
    manager.Initialise(Setup());
    EXPECT_EQ(manager.GetString(1), "Ja");
    EXPECT_EQ(manager.GetString(2), "No");
    EXPECT_EQ(manager.GetString(3), "Abbrechen");
    EXPECT_EQ(manager.GetString(50000), "Extra");
    EXPECT_EQ(manager.GetString(50001), "");
    EXPECT_EQ(manager.TranslatedCount(), 3u);
    EXPECT_EQ(manager.LoadedCode(), "de");
    EXPECT_EQ(manager.LoadedFullVersion(), "test 1");
}

TEST_F(LanguageManagerTest, ListsOnlyUsableRegularFilesWithXmlInTheName) {
    test::WriteFile(m_program / "ok.xml", LanguageXml("Ok", "ok", {}));
    test::WriteFile(m_program / "ok.XML", LanguageXml("Upper", "up", {}));
    test::WriteFile(m_program / "ok.txt", LanguageXml("Text", "tx", {}));
    test::WriteFile(m_program / "noname.xml", LanguageXml("", "nn", {}));
    test::WriteFile(m_program / "broken.xml", "<language name=\"x\" code=\"y\">");
    test::WriteFile(m_program / "long.xml",
                    LanguageXml(std::string(70, 'n'), std::string(20, 'c'), {}));
    // Entries of the user's folder that are not regular files of bounded size.
    const std::filesystem::path languages = m_userData / "Languages";
    ASSERT_EQ(mkfifo((languages / "pipe.xml").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", languages / "zero.xml");
    std::filesystem::create_directory(languages / "folder.xml");
    test::WriteFile(m_program / "real.xml", LanguageXml("Real", "de", {{"1", kYesCheck, "Ja"}}));
    std::filesystem::create_symlink(m_program / "real.xml", languages / "link.xml");
    std::string big = LanguageXml("Big", "bg", {});
    big.insert(big.find("<strings>"), std::string(kMaxLanguageFileBytes, ' '));
    test::WriteFile(languages / "big.xml", big);
    m_settings.stored = "de";
    CLanguageManager manager;
    manager.Initialise(Setup());
    ASSERT_EQ(manager.LanguageCount(), 4u);
    EXPECT_EQ(manager.Language(1).name, std::string(63, 'n'));
    EXPECT_EQ(manager.Language(1).code, std::string(15, 'c'));
    EXPECT_EQ(manager.Language(2).name, "Ok");
    EXPECT_EQ(manager.Language(2).path, m_program / "ok.xml");
    EXPECT_EQ(manager.Language(3).path, m_program / "real.xml");
    EXPECT_EQ(manager.GetString(1), "Ja");
}

TEST_F(LanguageManagerTest, ImportCopiesStoresAndListsAgain) {
    CLanguageManager manager;
    manager.Initialise(Setup());
    const std::filesystem::path source = m_root / "download.xml";
    const std::string xml = LanguageXml("Polski", "pl", {{"1", kYesCheck, "Tak"}});
    test::WriteFile(source, xml);
    ASSERT_TRUE(manager.ImportFile(source));
    const std::filesystem::path copy = UserFile("language_pl.xml");
    ASSERT_TRUE(std::filesystem::is_regular_file(copy));
    EXPECT_EQ(std::filesystem::file_size(copy), xml.size());
    EXPECT_EQ(m_settings.stored, "pl");
    ASSERT_EQ(manager.LanguageCount(), 2u);
    EXPECT_EQ(manager.Language(1).path, copy);
    EXPECT_EQ(manager.ChosenIndex(), 0u);    // English still runs
    EXPECT_EQ(manager.GetString(1), "Yes");  // until the next start
    test::WriteFile(source, LanguageXml("Polski 2", "pl", {}));
    ASSERT_TRUE(manager.ImportFile(source));  // replaces the earlier copy
    EXPECT_EQ(manager.LanguageCount(), 2u);
    EXPECT_EQ(manager.Language(1).name, "Polski 2");
}

}  // namespace
}  // namespace vexel
