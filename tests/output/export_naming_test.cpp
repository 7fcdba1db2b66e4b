#include "output/export_naming.h"

#include <gtest/gtest.h>

#include <fstream>

#include "common/test_paths.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

std::string Repeat(const std::string& text, int count) {
    std::string result;
    for (int i = 0; i < count; ++i)
        result += text;
    return result;
}

// Every path below root, relative to it.
std::set<std::string> Tree(const fs::path& root) {
    std::set<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        paths.insert(entry.path().lexically_relative(root).string());
    return paths;
}

TEST(ExportNaming, SafeFolderName) {
    const std::string euro = "\xE2\x82\xAC";
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {"../../evil", "_.._evil"}, {".", ""}, {"..", ""}, {" . .. ", ""}, {"A/B", "A_B"},
        {"a\\b", "a_b"}, {"CON", "CON_"}, {"con.txt", "con_.txt"}, {"lpt9 .log", "lpt9 _.log"},
        {"COM0", "COM0"}, {"CONSOLE", "CONSOLE"}, {"a:b?", "a_b_"}, {"<\"*|>", "_____"},
        {"  .x. ", "x"}, {std::string("a\x01\x7F\nb\0c", 7), "a___b_c"}, {"\xC2\x9B", "_"},
        {"M\xC3\xBCller", "M\xC3\xBCller"}, {Repeat(euro, 300), Repeat(euro, 33)},
        {Repeat("a", 101), Repeat("a", 100)}, {Repeat("a", 99) + euro, Repeat("a", 99)},
        {"a\xFF\xC3" "b\xE2\x82", "a__b__"},
        {"\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80", "_________"}};
    // clang-format on
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(SafeFolderName(input), expected) << "input: " << input;
}

TEST(ExportNaming, NamesPrefixesAndFolders) {
    EXPECT_EQ(ImageFileName(DefaultPrefix(1), 1, "jpg"), "IMG-0001-00001.jpg");
    EXPECT_EQ(MovieFileName("", 2, "wmv"), "movie00002.wmv");
    EXPECT_EQ(DateFolderName("5 M\xC3\xA4rz"), "5_M_rz");  // one "_" per character
    for (const char* bad : {"a/b", "a\\b", "a\nb", "\x7F"})
        EXPECT_FALSE(PrefixIsValid(bad));
    EXPECT_FALSE(PrefixIsValid(Repeat("a", 201)));
    EXPECT_TRUE(PrefixIsValid(".."));
    const fs::path dir = test::ScratchDir("export_naming");
    for (const char* name : {"IMG-0001-00001.jpg", "IMG-0002-00003.bmp", "img-0005-00001.jpg"})
        std::ofstream(dir / name) << "x";
    const std::pair<uint32_t, uint32_t> runs[] = {{0, 3}, {1, 3}, {3, 3}, {4, 4}, {5, 6}};
    for (const auto& [from, expected] : runs)
        EXPECT_EQ(FirstFreeRun(dir, from), expected) << from;
    EXPECT_EQ(FirstFreeRun(dir / "missing", 7), 7u);
    EXPECT_EQ(ExportFolder(dir.string()), fs::canonical(dir));
    EXPECT_EQ(ExportFolder(dir.string() + "/"), fs::canonical(dir));
    for (const fs::path& bad : {fs::path(), dir / "IMG-0001-00001.jpg", dir / "x" / ".."})
        EXPECT_EQ(ExportFolder(bad.string()), std::nullopt) << bad;
}

struct Step {
    char kind;                   // 'P' patient, 'S' study
    std::string text, expected;  // expected: relative to the export folder
};

// Hostile names stay direct children: the export folder is root/a/b, and "../../evil" must not
// reach root.
TEST(ExportFolders, NamesNumbersAndCollisions) {
    const std::string wide = Repeat("\xE2\x82\xAC", 300), cut = Repeat("\xE2\x82\xAC", 33);
    // clang-format off
    const std::pair<bool, std::vector<Step>> cases[] = {
        {false, {{'P', "TEST PATIENT", "TEST PATIENT"},
                 {'S', "2012-03-05 10:22", "TEST PATIENT/2012_03_05_10_22"},
                 {'S', "2012-03-05 10:22", "TEST PATIENT/2012_03_05_10_22_2"},
                 {'S', "", "TEST PATIENT/UNKNOWN01"}, {'S', "", "TEST PATIENT/UNKNOWN02"},
                 {'P', "ANONYMOUS", "ANONYMOUS"}, {'P', "anonymous", "anonymous_2"},
                 {'S', "", "anonymous_2/UNKNOWN01"}, {'P', "", "UNKNOWN001"},
                 {'P', ".", "UNKNOWN002"}, {'P', "doe", "doe_2"}, {'P', "../../evil", "_.._evil"},
                 {'S', "../..", "_.._evil/_____"}, {'P', "A/B", "A_B"}, {'P', "CON", "CON_"},
                 {'P', "a:b?", "a_b_"}, {'P', wide, cut}, {'S', "", cut + "/UNKNOWN01"}}},
        {true, {{'P', "Doe", "PATIENT001"}, {'S', "2012", "PATIENT001/STUDY01"},
                {'S', "2012", "PATIENT001/STUDY02"}, {'P', "", "PATIENT002"},
                {'S', "", "PATIENT002/STUDY01"}}}};
    // clang-format on
    for (const auto& [anonymous, steps] : cases) {
        const fs::path root = test::ScratchDir("export_folders"), dir = root / "a" / "b";
        fs::create_directories(dir / "Doe");
        std::set<std::string> expected = {"a", "a/b", "a/b/Doe"};
        CExportFolders folders(dir, anonymous);
        for (const Step& step : steps) {
            const auto made =
                step.kind == 'P' ? folders.AddPatient(step.text) : folders.AddStudy(step.text);
            ASSERT_TRUE(made) << step.text;
            EXPECT_EQ(made->lexically_relative(dir).string(), step.expected);
            expected.insert("a/b/" + step.expected);
        }
        EXPECT_EQ(Tree(root), expected);  // nothing else, anywhere below root
    }
}

TEST(ExportFolders, FailuresAreReported) {
    const fs::path dir = test::ScratchDir("export_folders_fail");
    std::string error;
    EXPECT_FALSE(CExportFolders(dir, false).AddStudy("2012", &error));
    EXPECT_FALSE(CExportFolders(dir / "missing", false).AddPatient("Doe", &error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
    EXPECT_TRUE(Tree(dir).empty());
}

}  // namespace
}  // namespace vexel
