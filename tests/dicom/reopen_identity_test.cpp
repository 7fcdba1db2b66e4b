// A deferred read trusts the file at the stored path only while it is the file that was
// parsed. The hard case: the same file rewritten in place with its size kept and its
// modification time set back, as time-preserving tools do; its new pixels must never pass
// for the old ones.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/test_paths.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "phantom/phantom_writer.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

// File times come from the kernel's coarse clock, in the file system's granularity: once
// that clock is past the recorded change time's second, any later change gets a new one.
void WaitUntilChangeTimeCanDiffer(const fs::path& path) {
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    timespec now{};
    for (;;) {
        clock_gettime(CLOCK_REALTIME_COARSE, &now);
        if (now.tv_sec > status.st_ctim.tv_sec) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Overwrites bytes in place (same inode, same size), then puts the old times back.
void RewriteKeepingTimes(const fs::path& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    const int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), off_t(offset)), ssize_t(bytes.size()));
    close(fd);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    ASSERT_EQ(after.st_ino, before.st_ino);
    ASSERT_EQ(after.st_size, before.st_size);
    ASSERT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    ASSERT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST(ReopenIdentity, AFileRewrittenInPlaceWithItsOldTimeLendsNoBytes) {
    const fs::path root = test::ScratchDir("reopen-identity");
    phantom::PhantomOptions options;
    options.columns = options.rows = 16;
    options.slices = 2;
    std::string error;
    ASSERT_TRUE(phantom::WriteCtSeries(root, options, &error)) << error;

    struct Case {
        const char* name;
        bool rewrite;
    };
    for (const Case& c : {Case{"CT0001.dcm", false}, Case{"CT0002.dcm", true}}) {
        const fs::path path = root / c.name;
        CDicomFile file;
        file.SetDeferredValues(true);
        ASSERT_EQ(ReadDicomFile(file, path.string()), ReadStatus::Ok) << c.name;
        const CDicomElement* pixels = file.FindElement(0x7FE00010);
        ASSERT_NE(pixels, nullptr);
        // Once a value of a tag is parsed, later deferred reads of the process load that tag
        // too: a run of the whole binary may have done so before this test.
        if (pixels->HasValue()) GTEST_SKIP() << "pixel data is preloaded in this process";
        std::vector<uint8_t> original(pixels->length);
        ASSERT_TRUE(file.ReadBytes(pixels, original.data(), 0, original.size()));

        if (c.rewrite) {
            WaitUntilChangeTimeCanDiffer(path);
            std::vector<uint8_t> changed(original.size());
            for (size_t i = 0; i < changed.size(); ++i)
                changed[i] = uint8_t(original[i] ^ 0x5A);
            RewriteKeepingTimes(path, pixels->offset, changed);
        }
        std::vector<uint8_t> again(original.size());
        EXPECT_EQ(file.ReadBytes(pixels, again.data(), 0, again.size()), !c.rewrite) << c.name;
        if (!c.rewrite) {
            EXPECT_EQ(again, original);
        }
    }
}

}  // namespace
}  // namespace vexel
