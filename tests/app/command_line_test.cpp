// The viewer's command line: modes, ignored runs, archives and the crash-reporter form.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/test_paths.h"

namespace vexel {
namespace {

using Strings = std::vector<std::string>;

struct CommandLineCase {
    const char* name;
    Strings arguments;
    Strings folders;
    Strings files;
    std::optional<std::string> archive;
    std::optional<std::string> crashReport;
};

class CommandLineParse : public testing::TestWithParam<CommandLineCase> {};

// "@dir" and "@zipdir" stand for existing directories.
Strings Expand(const Strings& texts) {
    static const std::filesystem::path root = [] {
        const auto dir = test::ScratchDir("command_line");
        std::filesystem::create_directories(dir / "series");
        std::filesystem::create_directories(dir / "burned.ZIP");
        return dir;
    }();
    Strings result;
    for (const std::string& text : texts)
        result.push_back(text == "@dir"      ? (root / "series").string()
                         : text == "@zipdir" ? (root / "burned.ZIP").string()
                                             : text);
    return result;
}

TEST_P(CommandLineParse, GivesListsOfTheCase) {
    const CommandLineCase& c = GetParam();
    CommandLineRequest request = ParseCommandLine(Expand(c.arguments));
    EXPECT_EQ(request.folders, Expand(c.folders));
    EXPECT_EQ(request.files, Expand(c.files));
    EXPECT_EQ(request.archive, c.archive);
    EXPECT_EQ(request.crashReport, c.crashReport);
}

const CommandLineCase kCases[] = {
    {"NoArguments", {}, {}, {}, {}, {}},
    {"IgnoredRunEndsAtF", {"x.dcm", "-z", "y.dcm", "-f", "w.dcm"}, {}, {"x.dcm", "w.dcm"}, {}, {}},
    {"FoldersModeTakesMissingFolder", {"-d", "/no/such/folder"}, {"/no/such/folder"}, {}, {}, {}},
    {"FoldersModeDoesNotTestArchives", {"-d", "x.zip"}, {"x.zip"}, {}, {}, {}},
    {"ExistingDirectoryJoinsFolders", {"a.dcm", "@dir"}, {"@dir"}, {"a.dcm"}, {}, {}},
    {"DirectoryNamedLikeArchiveIsFolder", {"@zipdir"}, {"@zipdir"}, {}, {}, {}},
    {"UpperCaseZipIsArchiveAlone", {"a.dcm", "@dir", "/p/STUDY.ZIP", "-d", "/f"}, {}, {},
     "/p/STUDY.ZIP", {}},
    {"DoubleExtensionIsOrdinaryFile", {"/p/a.b.zip"}, {}, {"/p/a.b.zip"}, {}, {}},
    {"ArchiveInIgnoredRunIsIgnored", {"-z", "x.zip", "a.dcm"}, {}, {}, {}, {}},
    {"SwitchesAreCaseSensitive", {"-D", "a", "-F", "b", "-f", "c"}, {}, {"c"}, {}, {}},
    {"ModesSwitchBack", {"-d", "d1", "-f", "f1", "-d", "d2"}, {"d1", "d2"}, {"f1"}, {}, {}},
    {"EmptyArgumentSkipped", {"", "a.dcm"}, {}, {"a.dcm"}, {}, {}},
    {"CrashDropsTrailingQuote", {"-crash", "/tmp/r 1\""}, {}, {}, {}, "/tmp/r 1"},
    {"CrashIgnoresTheRest", {"-crash", "/tmp/r", "x.dcm"}, {}, {}, {}, "/tmp/r"},
    {"CrashAloneIsAnIgnoringSwitch", {"-crash"}, {}, {}, {}, {}},
    {"CrashNotFirstIsAnIgnoringSwitch", {"a.dcm", "-crash", "/r"}, {}, {"a.dcm"}, {}, {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, CommandLineParse, testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace vexel
