// The private crash folder: links planted at either level are refused and left as they were,
// a folder of another owner is refused, a wide mode is narrowed; new files are never made
// through a link; clearing removes regular files only.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "common/test_paths.h"
#include "platform/private_folder.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

unsigned Mode(const fs::path& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

struct FolderCase {
    std::string name;
    std::function<void(const fs::path& home, const fs::path& other)> plant;
    bool opens;
};
void PrintTo(const FolderCase& c, std::ostream* out) {
    *out << c.name;
}

class PrivateFolderOpen : public testing::TestWithParam<FolderCase> {};

TEST_P(PrivateFolderOpen, RefusesLinksAndStrangers) {
    const FolderCase& c = GetParam();
    const fs::path sandbox = test::ScratchDir("private_folder_" + c.name);
    const fs::path home = sandbox / "cache";
    const fs::path other = sandbox / "other";
    fs::create_directories(other);
    fs::permissions(other, fs::perms::all);
    c.plant(home, other);
    const fs::path folder = CrashReportFolderPath(home);
    const int fd = OpenPrivateFolder(folder);
    EXPECT_EQ(fd >= 0, c.opens);
    if (fd >= 0) {
        EXPECT_EQ(Mode(folder), 0700u);
        EXPECT_EQ(Mode(folder.parent_path()), 0700u);
        close(fd);
    }
    EXPECT_TRUE(fs::is_empty(other));
    EXPECT_EQ(Mode(other), 0777u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PrivateFolderOpen,
    testing::Values(FolderCase{"made", [](const fs::path&, const fs::path&) {}, true},
                    FolderCase{"narrowed",
                               [](const fs::path& home, const fs::path&) {
                                   fs::create_directories(CrashReportFolderPath(home));
                                   fs::permissions(CrashReportFolderPath(home), fs::perms::all);
                                   fs::permissions(home / "VexelViewer", fs::perms::owner_all);
                               },
                               true},
                    FolderCase{"home_link",  // the cache home itself may be a link
                               [](const fs::path& home, const fs::path&) {
                                   fs::create_directories(home.parent_path() / "real_home");
                                   fs::create_directory_symlink(home.parent_path() / "real_home",
                                                                home);
                               },
                               true},
                    FolderCase{"parent_link",
                               [](const fs::path& home, const fs::path& other) {
                                   fs::create_directories(home);
                                   fs::create_directory_symlink(other, home / "VexelViewer");
                               },
                               false},
                    FolderCase{"folder_link",
                               [](const fs::path& home, const fs::path& other) {
                                   fs::create_directories(home / "VexelViewer");
                                   fs::create_directory_symlink(other, CrashReportFolderPath(home));
                               },
                               false},
                    FolderCase{"folder_is_file",
                               [](const fs::path& home, const fs::path&) {
                                   fs::create_directories(home / "VexelViewer");
                                   test::RunCommand("touch '" +
                                                    CrashReportFolderPath(home).string() + "'");
                               },
                               false},
                    FolderCase{"foreign_owner",
                               [](const fs::path& home, const fs::path&) {
                                   fs::create_directories(CrashReportFolderPath(home));
                                   // Only root can give a folder away; elsewhere the case proves
                                   // nothing.
                                   if (chown(CrashReportFolderPath(home).c_str(), 4242, 4242) != 0)
                                       fs::remove(CrashReportFolderPath(home));
                               },
                               geteuid() != 0}),
    [](const testing::TestParamInfo<FolderCase>& param) { return param.param.name; });

TEST(PrivateFolder, FilesAreNewAndClearingKeepsAllButRegularFiles) {
    const fs::path sandbox = test::ScratchDir("private_folder_files");
    const fs::path folder = CrashReportFolderPath(sandbox);
    const int fd = OpenPrivateFolder(folder);
    ASSERT_GE(fd, 0);
    test::RunCommand("printf kept > '" + (sandbox / "target").string() + "'");
    fs::create_symlink(sandbox / "target", folder / "link");
    fs::create_symlink(sandbox / "gone", folder / "dangling");
    fs::create_directory(folder / "sub");
    ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);

    EXPECT_LT(CreatePrivateFile(fd, "link"), 0);
    EXPECT_LT(CreatePrivateFile(fd, "dangling"), 0);
    EXPECT_FALSE(fs::exists(sandbox / "gone"));
    for (const char* name : {"a", "b", "c"}) {
        const int file = CreatePrivateFile(fd, name);
        ASSERT_GE(file, 0) << name;
        EXPECT_EQ(Mode(folder / name), 0600u);
        EXPECT_LT(CreatePrivateFile(fd, name), 0) << "made twice: " << name;
        close(file);
    }
    ClearPrivateFolder(fd);
    close(fd);
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder))
        left.insert(entry.path().filename());
    EXPECT_EQ(left, (std::set<std::string>{"dangling", "fifo", "link", "sub"}));
    EXPECT_EQ(test::ReadFileBytes(sandbox / "target"), (std::vector<uint8_t>{'k', 'e', 'p', 't'}));
}

}  // namespace
}  // namespace vexel
