// Per-run temporary folders: the held lock, and the clean-up at exit that removes the
// folders of ended instances but never those of live ones or anything outside.
#include "app/instance_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>

#include "app/options.h"
#include "common/test_paths.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

// Asks the kernel directly whether someone holds the lock file.
bool IsLockHeld(const fs::path& lock) {
    int fd = open(lock.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

void Touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

class InstanceFolders : public testing::Test {
protected:
    void SetUp() override {
        m_root = test::ScratchDir(testing::UnitTest::GetInstance()->current_test_info()->name());
        m_folders = UserBaseFolders{m_root / "data", m_root / "config"};
        m_tmp = m_root / "data" / "VexelViewer" / "tmp";
    }
    fs::path m_root;
    UserBaseFolders m_folders;
    fs::path m_tmp;
};

// Two live instances in this process (flock belongs to each open file), one folder without
// a lock file and one whose lock file nobody holds.
TEST_F(InstanceFolders, ExitRemovesOwnAndDeadFoldersButNotLiveOnes) {
    auto first = std::make_unique<COptions>(m_folders);
    COptions second(m_folders);
    ASSERT_NE(first->InstanceFolder(), second.InstanceFolder());
    EXPECT_EQ(first->InstanceFolder().parent_path(), m_tmp);
    EXPECT_TRUE(IsLockHeld(first->LockFilePath()));
    const fs::path firstFolder = first->InstanceFolder();
    Touch(firstFolder / "cache" / "frame.bin");
    const fs::path noLock = m_tmp / "tmp0000DEAD";
    Touch(noLock / "sub" / "file");
    const fs::path freeLock = m_tmp / "tmp0001DEAD";
    Touch(freeLock / "lock");

    first.reset();
    EXPECT_FALSE(fs::exists(firstFolder));
    EXPECT_FALSE(fs::exists(noLock));
    EXPECT_FALSE(fs::exists(freeLock));
    EXPECT_TRUE(IsLockHeld(second.LockFilePath()));
    EXPECT_TRUE(fs::is_directory(second.InstanceFolder()));

    const fs::path secondFolder = second.InstanceFolder();
    second.Shutdown();
    EXPECT_FALSE(fs::exists(secondFolder));
    EXPECT_TRUE(fs::is_directory(m_tmp));
}

TEST_F(InstanceFolders, CleanUpTouchesOnlyRealInstanceFolders) {
    fs::create_directories(m_tmp);
    const fs::path outside = m_root / "outside";
    Touch(outside / "precious");
    const std::vector<std::string> keptFolders = {"tmpXYZ",      "tmp1234567",  "tmp123456789",
                                                  "tmpABCDEFGH", "TMP12345678", "tmp1234567g"};
    for (const std::string& name : keptFolders)
        fs::create_directories(m_tmp / name);
    Touch(m_tmp / "tmp12345678");  // a regular file with an instance name
    fs::create_directory_symlink(outside, m_tmp / "tmp1234ABCD");
    // A stale folder holding a link to the outside: the link goes, not what it points to.
    const fs::path stale = m_tmp / "tmp0000abcd";
    fs::create_directories(stale);
    fs::create_directory_symlink(outside, stale / "link");

    EXPECT_EQ(RemoveStaleInstanceFolders(m_tmp), 1);
    EXPECT_FALSE(fs::exists(stale));
    for (const std::string& name : keptFolders)
        EXPECT_TRUE(fs::is_directory(m_tmp / name)) << name;
    EXPECT_TRUE(fs::is_regular_file(m_tmp / "tmp12345678"));
    EXPECT_TRUE(fs::is_symlink(m_tmp / "tmp1234ABCD"));
    EXPECT_TRUE(fs::is_regular_file(outside / "precious"));
}

}  // namespace
}  // namespace vexel
