// Languages: listing, choosing, loading and importing them in scratch folders; reading files
// that are malformed or huge; the shipped German file, accepted text by text (its check
// values are zlib's CRC-32 of the English texts, so this also compares our CRC-32 with
// zlib's on every built-in text); the default language code from the session's locale.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "common/test_paths.h"
#include "support/language_environment.h"
#include "support/language_file.h"
#include "support/language_manager.h"
#include "support/language_settings.h"
#include "support/text_table.h"
#include "support/utf8_text.h"

namespace vexel {
namespace {

// Language files written with chosen attributes, and the stored choice held in memory.
struct XmlText {
    std::string id;     // the "i" attribute as written; empty leaves it out
    std::string check;  // the "c" attribute as written; empty leaves it out
    std::string text;
};

std::string LanguageXml(const std::string& name, const std::string& code,
                        const std::vector<XmlText>& texts) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<language";
    if (!name.empty()) xml += " name=\"" + name + "\"";
    if (!code.empty()) xml += " code=\"" + code + "\"";
    xml += " fullver=\"test 1\">\n<strings>\n";
    for (const XmlText& t : texts) {
        xml += "<t";
        if (!t.id.empty()) xml += " i=\"" + t.id + "\"";
        if (!t.check.empty()) xml += " c=\"" + t.check + "\"";
        xml += ">" + t.text + "</t>\n";
    }
    return xml + "</strings>\n</language>\n";
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class MemoryLanguageSettings : public ILanguageSettings {
public:
    std::optional<std::string> LanguageCode() const override { return stored; }
    bool SetLanguageCode(const std::string& code) override {
        stored = code;
        return true;
    }
    std::optional<std::string> stored;
};

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
    MemoryLanguageSettings m_settings;
};

TEST_F(LanguageManagerTest, EnglishWithoutFilesAndLocaleChoosesWhenNothingIsStored) {
    CLanguageManager english;
    EXPECT_TRUE(english.Initialise(Setup()));
    ASSERT_EQ(english.LanguageCount(), 1u);
    EXPECT_EQ(english.Language(0).code, "en");
    EXPECT_EQ(english.GetString(0), "");
    EXPECT_EQ(english.GetString(12345), "");
    WriteFile(m_program / "pl.xml", LanguageXml("Polski", "pl", {{"1", kYesCheck, "Tak"}}));
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
    WriteFile(UserFile("de.xml"), LanguageXml("Deutsch", "de", texts));
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
    WriteFile(m_program / "ok.xml", LanguageXml("Ok", "ok", {}));
    WriteFile(m_program / "ok.XML", LanguageXml("Upper", "up", {}));
    WriteFile(m_program / "ok.txt", LanguageXml("Text", "tx", {}));
    WriteFile(m_program / "noname.xml", LanguageXml("", "nn", {}));
    WriteFile(m_program / "broken.xml", "<language name=\"x\" code=\"y\">");
    WriteFile(m_program / "long.xml", LanguageXml(std::string(70, 'n'), std::string(20, 'c'), {}));
    // Entries of the user's folder that are not regular files of bounded size.
    const std::filesystem::path languages = m_userData / "Languages";
    ASSERT_EQ(mkfifo((languages / "pipe.xml").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", languages / "zero.xml");
    std::filesystem::create_directory(languages / "folder.xml");
    WriteFile(m_program / "real.xml", LanguageXml("Real", "de", {{"1", kYesCheck, "Ja"}}));
    std::filesystem::create_symlink(m_program / "real.xml", languages / "link.xml");
    std::string big = LanguageXml("Big", "bg", {});
    big.insert(big.find("<strings>"), std::string(kMaxLanguageFileBytes, ' '));
    WriteFile(languages / "big.xml", big);
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
    WriteFile(source, xml);
    ASSERT_TRUE(manager.ImportFile(source));
    const std::filesystem::path copy = UserFile("language_pl.xml");
    ASSERT_TRUE(std::filesystem::is_regular_file(copy));
    EXPECT_EQ(std::filesystem::file_size(copy), xml.size());
    EXPECT_EQ(m_settings.stored, "pl");
    ASSERT_EQ(manager.LanguageCount(), 2u);
    EXPECT_EQ(manager.Language(1).path, copy);
    EXPECT_EQ(manager.ChosenIndex(), 0u);    // English still runs
    EXPECT_EQ(manager.GetString(1), "Yes");  // until the next start
    WriteFile(source, LanguageXml("Polski 2", "pl", {}));
    ASSERT_TRUE(manager.ImportFile(source));  // replaces the earlier copy
    EXPECT_EQ(manager.LanguageCount(), 2u);
    EXPECT_EQ(manager.Language(1).name, "Polski 2");
}

TEST(LanguageFileTest, Utf8Validation) {
    const std::pair<std::string, bool> cases[] = {{"plain", true},
                                                  {"Gr\xC3\xB6\xC3\x9F"
                                                   "e",
                                                   true},
                                                  {"\xE2\x82\xAC", true},
                                                  {"\xF0\x9F\x98\x80", true},
                                                  {"\xC3", false},  // cut sequence
                                                  {"\xC0\xAF", false},
                                                  {"\xE0\x80\xAF", false},      // overlong
                                                  {"\xED\xA0\x80", false},      // surrogate
                                                  {"\xF4\x90\x80\x80", false},  // above U+10FFFF
                                                  {"\xFF", false},
                                                  {"a\x80"
                                                   "b",
                                                   false}};  // stray continuation byte
    for (const auto& [bytes, valid] : cases)
        EXPECT_EQ(IsValidUtf8(bytes), valid) << bytes;
}

TEST(LanguageFileTest, ChildrenAreSkippedOneByOne) {
    const std::string huge(600000, '7');
    const std::string xml = LanguageXml("Test", "xx",
                                        {{"1", "4DAA7349", "Ja"},
                                         {"", "4DAA7349", "no id"},
                                         {"0", "4DAA7349", "id zero"},
                                         {"2", "", "no check"},
                                         {"3", "51BAC044", ""},
                                         {"99999999999", "0", "id out of range"},
                                         {"4", "xyz", "bad check"},
                                         {"5", "0", "bad \xC3\x28 text"},
                                         {"6", "0", std::string(kMaxTranslationBytes + 1, 'x')},
                                         {huge, huge, "huge attribute values"},
                                         {"1", "4DAA7349", "Duplicate"}});
    const LanguageFileContent content = ParseLanguageFile(xml);
    ASSERT_EQ(content.status, LanguageFileStatus::Ok);
    EXPECT_EQ(content.name, "Test");
    EXPECT_EQ(content.code, "xx");
    EXPECT_EQ(content.fullVersion, "test 1");
    ASSERT_EQ(content.translations.size(), 2u);
    EXPECT_EQ(content.translations[0].text, "Ja");
    EXPECT_EQ(content.translations[0].check, 0x4DAA7349u);
    EXPECT_EQ(content.translations[1].text, "Duplicate");
}

struct BadDocument {
    const char* label;
    std::string bytes;
    LanguageFileStatus status;
};

std::string Nested(size_t depth) {
    std::string xml = "<language name=\"a\" code=\"b\"><strings>";
    for (size_t i = 0; i < depth; ++i)
        xml += "<a>";
    for (size_t i = 0; i < depth; ++i)
        xml += "</a>";
    return xml + "</strings></language>";
}

TEST(LanguageFileTest, BrokenDocumentsAreRefused) {
    const BadDocument cases[] = {
        {"empty", "", LanguageFileStatus::NotXml},
        {"binary", std::string("\0\x01\x02\xFF", 4), LanguageFileStatus::NotXml},
        {"unclosed", "<language name=\"a\" code=\"b\"><strings>", LanguageFileStatus::NotXml},
        {"deep nesting", Nested(100000), LanguageFileStatus::NotXml},
        {"other root", "<languages name=\"a\" code=\"b\"/>", LanguageFileStatus::NoLanguageRoot},
        {"no code", "<language name=\"a\"/>", LanguageFileStatus::MissingNameOrCode},
        {"empty name", "<language name=\"\" code=\"b\"/>", LanguageFileStatus::MissingNameOrCode},
        {"name not UTF-8", "<language name=\"\xE9t\xE9\" code=\"b\"/>",
         LanguageFileStatus::MissingNameOrCode},
    };
    for (const BadDocument& c : cases) {
        EXPECT_EQ(ParseLanguageFile(c.bytes).status, c.status) << c.label;
    }
}

std::filesystem::path ShippedFile() {
    return test::SourceDir() / "data" / "languages" / "language_de.xml";
}

std::string Unescape(const std::string& field) {
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        const bool lineBreak = field[i] == '\\' && i + 1 < field.size() && field[i + 1] == 'n';
        text += lineBreak ? '\n' : field[i];
        if (lineBreak) ++i;
    }
    return text;
}

// The German column of the table, read here without the generator.
std::map<uint32_t, std::string> GermanTexts() {
    std::map<uint32_t, std::string> texts;
    std::ifstream table(test::SourceDir() / "tools" / "translations" / "german.tsv");
    std::string line;
    while (std::getline(table, line)) {
        if (line.empty() || line[0] == '#' || line[0] == '@') continue;
        const size_t first = line.find('\t');
        const size_t second = line.find('\t', first + 1);
        texts[static_cast<uint32_t>(std::stoul(line.substr(0, first)))] =
            Unescape(line.substr(second + 1));
    }
    return texts;
}

TEST(GermanLanguageFileTest, EveryTextIsAcceptedAndShown) {
    const std::filesystem::path root = test::ScratchDir("german_accepted");
    const std::filesystem::path program = root / "program";
    std::filesystem::create_directories(program);
    std::filesystem::copy_file(ShippedFile(), program / "language_de.xml");
    MemoryLanguageSettings settings;
    CLanguageManager manager;
    manager.Initialise(LanguageSetup{root / "user", {program}, "de_DE.UTF-8", &settings});
    ASSERT_EQ(manager.LanguageCount(), 2u);
    EXPECT_EQ(manager.Language(1).name, "Deutsch");
    EXPECT_EQ(manager.Language(1).code, "de");
    ASSERT_EQ(manager.ChosenIndex(), 1u);

    const std::map<uint32_t, std::string> german = GermanTexts();
    size_t texts = 0;
    for (const TextRow& row : BuiltInTextTable()) {
        if (row.kind == TextKind::Section) continue;
        ++texts;
        const auto found = german.find(row.id);
        ASSERT_NE(found, german.end()) << "no German text for " << row.id;
        EXPECT_EQ(manager.GetString(row.id), found->second) << "id " << row.id;
    }
    EXPECT_EQ(german.size(), texts);
    EXPECT_EQ(manager.TranslatedCount(), texts);
}

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

}  // namespace
}  // namespace vexel
