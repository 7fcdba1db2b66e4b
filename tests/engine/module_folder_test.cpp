// Codec modules load only from absolute folders: a library planted in the working folder or
// reachable through a relative path is never loaded.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "common/test_paths.h"
#include "engine/zip_engine.h"
#include "imaging/jpeg_engine.h"
#include "platform/module_folders.h"

namespace vexel {
namespace {

// Runs the test with the build folder as working folder, so "bin" reaches the real modules.
class ModuleFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous = std::filesystem::current_path();
        std::filesystem::current_path(test::BinaryDir());
    }
    void TearDown() override { std::filesystem::current_path(m_previous); }

private:
    std::filesystem::path m_previous;
};

TEST_F(ModuleFolderTest, FolderListHoldsOnlyAbsolutePaths) {
    const std::vector<std::filesystem::path> folders = ModuleFolders();
    ASSERT_FALSE(folders.empty());
    EXPECT_EQ(folders.front(), test::BinaryDir() / "bin");  // the tests run from bin/
    for (const std::filesystem::path& folder : folders) {
        EXPECT_TRUE(folder.is_absolute()) << folder;
        EXPECT_NE(folder, std::filesystem::current_path()) << folder;
    }
    EXPECT_EQ(ModuleFolderFor("libvexel-zip.so"), test::BinaryDir() / "bin");
    EXPECT_TRUE(ModuleFolderFor("libvexel-no-such-module.so").empty());
}

TEST_F(ModuleFolderTest, RelativeOrEmptyFoldersLoadNothing) {
    ASSERT_TRUE(std::filesystem::exists("bin/libvexel-zip.so"));
    for (const char* folder : {"bin", "./bin", "."}) {
        CJPEGEngine jpeg{std::filesystem::path(folder)};
        EXPECT_FALSE(jpeg.Ensure(CJPEGEngine::Module::Jpeg1)) << folder;
        CZIPEngine zip{std::filesystem::path(folder)};
        EXPECT_FALSE(zip.EnsureLoaded()) << folder;
    }
    CJPEGEngine jpeg;
    EXPECT_TRUE(jpeg.Ensure(CJPEGEngine::Module::Jpeg1));
    CZIPEngine zip;
    EXPECT_TRUE(zip.EnsureLoaded());
}

}  // namespace
}  // namespace vexel
