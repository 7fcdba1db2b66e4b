// Reading language files that are malformed or huge (files that are not regular files, or
// too big, are the manager's listing test).
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "language_test_files.h"
#include "support/language_file.h"
#include "support/utf8_text.h"

namespace vexel {
namespace {

using test::LanguageXml;
using test::XmlText;

TEST(LanguageFileTest, Utf8Validation) {
    const std::pair<std::string, bool> cases[] = {
        {"plain", true}, {"Gr\xC3\xB6\xC3\x9F" "e", true}, {"\xE2\x82\xAC", true},
        {"\xF0\x9F\x98\x80", true}, {"\xC3", false},  // cut sequence
        {"\xC0\xAF", false}, {"\xE0\x80\xAF", false},  // overlong
        {"\xED\xA0\x80", false},                       // surrogate
        {"\xF4\x90\x80\x80", false},                   // above U+10FFFF
        {"\xFF", false}, {"a\x80" "b", false}};          // stray continuation byte
    for (const auto& [bytes, valid] : cases)
        EXPECT_EQ(IsValidUtf8(bytes), valid) << bytes;
}

TEST(LanguageFileTest, ChildrenAreSkippedOneByOne) {
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

TEST(LanguageFileTest, HugeAttributeValuesDoNotBreakTheReader) {
    const std::string huge(600000, '7');
    const std::string xml = "<language name=\"" + huge + "\" code=\"b\"><strings><t i=\"" + huge +
                            "\" c=\"" + huge +
                            "\">x</t><t i=\"1\" c=\"0\">y</t></strings></language>";
    const LanguageFileContent content = ParseLanguageFile(xml);
    ASSERT_EQ(content.status, LanguageFileStatus::Ok);
    ASSERT_EQ(content.translations.size(), 1u);
    EXPECT_EQ(content.translations[0].text, "y");
}

}  // namespace
}  // namespace vexel
