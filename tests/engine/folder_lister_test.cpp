// The scan's folder walk: first file of each folder apart from the rest, a trailing slash
// changing nothing, loops cut and special files skipped.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "common/test_paths.h"
#include "engine/folder_lister.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Paths(const std::vector<ScanFileRecord>& records) {
    std::vector<std::string> paths;
    for (const auto& record : records)
        paths.push_back(record.path);
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST(FolderLister, EachFolderGivesOneFirstFileAndTheRestFollow) {
    const fs::path root = test::ScratchDir("lister-tree");
    for (const char* folder : {"a", "a/b", "c"}) {
        fs::create_directories(root / folder);
        for (int i = 0; i < 3; ++i)
            std::ofstream(root / folder / ("f" + std::to_string(i)));
    }
    fs::create_directories(root / "empty");
    FolderListing listing;
    ASSERT_TRUE(ListFolder(root.string(), listing));
    EXPECT_EQ(listing.firstFiles.size(), 3u);
    EXPECT_EQ(listing.otherFiles.size(), 6u);
    for (const auto& record : listing.firstFiles) {
        EXPECT_EQ(record.path, record.folder + "/" + record.name);
    }
    FolderListing slashed;
    ASSERT_TRUE(ListFolder(root.string() + "//", slashed));
    EXPECT_EQ(Paths(slashed.firstFiles), Paths(listing.firstFiles));
    EXPECT_EQ(Paths(slashed.otherFiles), Paths(listing.otherFiles));
}

TEST(FolderLister, LoopsAreCutAndSpecialFilesSkipped) {
    const fs::path root = test::ScratchDir("lister-loops");
    fs::create_directories(root / "x" / "y");
    std::ofstream(root / "x" / "y" / "file");
    fs::create_directory_symlink(root, root / "x" / "y" / "back-to-root");
    fs::create_directory_symlink(root / "x", root / "also-x");
    ASSERT_EQ(mkfifo((root / "fifo").c_str(), 0600), 0);
    FolderListing listing;
    ASSERT_TRUE(ListFolder(root.string(), listing));
    // One real file, found once although two links lead back into its folders.
    EXPECT_EQ(listing.firstFiles.size() + listing.otherFiles.size(), 1u);
    EXPECT_EQ(listing.skippedEntries, 3u);
    FolderListing missing;
    EXPECT_TRUE(ListFolder((root / "nothing-here").string(), missing));
    EXPECT_EQ(missing.skippedEntries, 1u);
}

}  // namespace
}  // namespace vexel
