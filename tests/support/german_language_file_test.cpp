// The shipped German file: accepted text by text by this version of the program, each text
// the one the committed table gives. Its check values come from zlib's CRC-32 of the English
// texts, so this is also the comparison of our CRC-32 with zlib's on every built-in text.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "common/test_paths.h"
#include "language_test_files.h"
#include "support/language_file.h"
#include "support/language_manager.h"
#include "support/text_table.h"

namespace vexel {
namespace {

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
    test::MemoryLanguageSettings settings;
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

}  // namespace
}  // namespace vexel
