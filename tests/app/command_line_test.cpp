// The viewer's command line: modes, ignored runs, archives and the crash-reporter form; the
// CD/DVD test against hand-written mount tables.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/command_line.h"
#include "app/path_utilities.h"
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
    {"UpperCaseZipIsArchiveAlone",
     {"a.dcm", "@dir", "/p/STUDY.ZIP", "-d", "/f"},
     {},
     {},
     "/p/STUDY.ZIP",
     {}},
    {"DoubleExtensionIsOrdinaryFile", {"/p/a.b.zip"}, {}, {"/p/a.b.zip"}, {}, {}},
    {"ArchiveInIgnoredRunIsIgnored", {"-z", "x.zip", "a.dcm"}, {}, {}, {}, {}},
    {"SwitchesAreCaseSensitive", {"-D", "a", "-F", "b", "-f", "c"}, {}, {"c"}, {}, {}},
    {"ModesSwitchBack", {"-d", "d1", "-f", "f1", "-d", "d2"}, {"d1", "d2"}, {"f1"}, {}, {}},
    {"EmptyArgumentSkipped", {"", "a.dcm"}, {}, {"a.dcm"}, {}, {}},
    {"CrashKeepsTrailingQuote", {"-crash", "/tmp/r 1\""}, {}, {}, {}, "/tmp/r 1\""},
    {"CrashIgnoresTheRest", {"-crash", "/tmp/r", "x.dcm"}, {}, {}, {}, "/tmp/r"},
    {"CrashAloneIsAnIgnoringSwitch", {"-crash"}, {}, {}, {}, {}},
    {"CrashNotFirstIsAnIgnoringSwitch", {"a.dcm", "-crash", "/r"}, {}, {"a.dcm"}, {}, {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, CommandLineParse, testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

// Written as the kernel writes it: optional fields before "-", \040 for a blank, \134 for
// a backslash; one line too short and one without the separator.
constexpr const char* kMountInfo =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro\n"
    "35 22 0:30 / /media/user/My\\040Disc ro,nosuid,relatime shared:60 master:3 - iso9660 "
    "/dev/sr0 ro,blocksize=2048\n"
    "36 22 0:31 / /mnt/dvd ro,relatime - udf /dev/sr1 ro\n"
    "37 36 0:32 / /mnt/dvd/inner rw,relatime - tmpfs tmpfs rw\n"
    "38 22 0:33 / /mnt/dvdrom rw - ext4 /dev/sdb1 rw\n"
    "39 22 0:34 / /mnt/back\\134slash ro - iso9660 /dev/sr2 ro\n"
    "garbage line\n"
    "40 22 0:35 / /mnt/nosep rw shared:2 iso9660 /dev/sr3 ro\n";

TEST(MountInfo, OpticalDriveFollowsLongestMountPrefix) {
    const std::pair<const char*, bool> cases[] = {
        {"/media/user/My Disc/DICOMDIR", true},
        {"/media/user/My Disc", true},
        {"/media/user/My Disc/", true},
        {"/media/user/My", false},
        {"/mnt/dvd/IMAGES/IM0001", true},
        {"/mnt/dvd/inner/file", false},   // tmpfs on it
        {"/mnt/dvdrom/file", false},      // prefix, not a component
        {"/mnt/dvd/../dvdrom/x", false},  // normalised first
        {"/mnt/./dvd//x", true},
        {"/mnt/back\\slash/f", true},
        {"/mnt/nosep/f", false},
        {"/home/user", false},
        {"", false}};
    for (const auto& [path, optical] : cases)
        EXPECT_EQ(IsOnOpticalDrive(std::string_view(path), kMountInfo), optical) << path;
}

}  // namespace
}  // namespace vexel
