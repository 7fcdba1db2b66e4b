// The private crash folder, beyond the links the crash tests plant: the cache home may be a
// link, a file or another owner's folder in its place is refused, new files are never made
// over an existing name, and clearing removes regular files only.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "common/test_paths.h"
#include "platform/private_folder.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

TEST(PrivateFolder, OpensOnlyOwnFolders) {
    const fs::path sandbox = test::ScratchDir("private_folder_open");
    fs::create_directories(sandbox / "real_home" / "VexelViewer");
    fs::create_directory_symlink(sandbox / "real_home", sandbox / "home");
    const int fd = OpenPrivateFolder(CrashReportFolderPath(sandbox / "home"));
    EXPECT_GE(fd, 0) << "the cache home may be a link";
    close(fd);
    fs::create_directories(sandbox / "file" / "VexelViewer");
    std::ofstream(CrashReportFolderPath(sandbox / "file")) << "x";
    EXPECT_LT(OpenPrivateFolder(CrashReportFolderPath(sandbox / "file")), 0);
    // Only root can give a folder away.
    fs::create_directories(CrashReportFolderPath(sandbox / "foreign"));
    if (chown(CrashReportFolderPath(sandbox / "foreign").c_str(), 4242, 4242) == 0) {
        EXPECT_LT(OpenPrivateFolder(CrashReportFolderPath(sandbox / "foreign")), 0);
    }
}

TEST(PrivateFolder, FilesAreNewAndClearingKeepsAllButRegularFiles) {
    const fs::path sandbox = test::ScratchDir("private_folder_files");
    const fs::path folder = CrashReportFolderPath(sandbox);
    const int fd = OpenPrivateFolder(folder);
    ASSERT_GE(fd, 0);
    std::ofstream(sandbox / "target") << "kept";
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
        EXPECT_LT(CreatePrivateFile(fd, name), 0) << "made twice: " << name;
        close(file);
    }
    ClearPrivateFolder(fd);
    close(fd);
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder))
        left.insert(entry.path().filename());
    EXPECT_EQ(left, (std::set<std::string>{"dangling", "fifo", "link", "sub"}));
    std::ifstream target(sandbox / "target");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(target), {}), "kept");
}

}  // namespace
}  // namespace vexel
