// Deferred reads trust the file at the stored path only while it is the parsed one. A listing
// reads every value left in the file through one open session; a file rewritten or replaced
// meanwhile, even with its old modification time put back, never lends its bytes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/test_paths.h"
#include "dicom/dicom_reader.h"
#include "dicom/tag_list.h"
#include "phantom/phantom_writer.h"

namespace vexel {
namespace {

// Values left in the file: one near its start, one after about 120 KiB of private blocks.
// Which tags those are depends on what the process loaded before (the preload set): after
// the corpus, the early one may be the late one. The sessions open the file by reading Pixel
// Data, never preloaded and stored after both (the read-ahead window never covers them).
constexpr uint64_t kLateOffset = 100 * 1024;

class ReadSessionTest : public testing::Test {
protected:
    void SetUp() override { WriteAndParse(); }

    // A fresh slice with a scanner's headers, parsed with deferred values.
    void WriteAndParse() {
        const std::filesystem::path dir = test::ScratchDir("read_session");
        phantom::PhantomOptions options;
        options.columns = options.rows = 16;
        options.slices = 1;
        options.scannerHeaders = true;
        std::string error;
        ASSERT_TRUE(phantom::WriteCtSeries(dir / "CT", options, &error)) << error;
        m_path = (dir / "CT" / "CT0001.dcm").string();
        m_file = std::make_unique<CDicomFile>();
        m_file->SetDeferredValues(true);
        ASSERT_EQ(ReadDicomFile(*m_file, m_path), ReadStatus::Ok);
        for (const CDicomElement* e = m_file->Root()->firstChild; e; e = e->nextSibling) {
            if (e->HasValue() || e->length == 0 || e->length > 4096 || e->Tag() == 0x7FE00010)
                continue;
            if (m_early == 0) m_early = e->Tag();
            if (e->offset > kLateOffset) m_late = e->Tag();
        }
        ASSERT_NE(m_early, 0u);
        ASSERT_NE(m_late, 0u);
        m_lateText = ValueText(m_late);
        ASSERT_NE(m_lateText, "");
    }

    std::string ValueText(uint32_t tag) {
        for (const TagListRow& row : BuildTagList(*m_file))
            if (MakeTag(row.group, row.element) == tag && row.depth == 0) return row.valueText;
        return "<no row>";
    }

    // Overwrites the late value in place (same inode) and moves the modification time on.
    void RewriteInPlace() {
        const CDicomElement* late = m_file->FindElement(m_late);
        const std::string bytes(late->length, 'X');
        const int fd = open(m_path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(late->offset)),
                  static_cast<ssize_t>(bytes.size()));
        const struct timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
        ASSERT_EQ(futimens(fd, later), 0);
        close(fd);
    }

    bool Read(uint32_t tag, char* dest, size_t size) {
        return m_file->ReadBytes(m_file->FindElement(tag), dest, 0, size);
    }

    std::string m_path;
    std::unique_ptr<CDicomFile> m_file;
    uint32_t m_early = 0;
    uint32_t m_late = 0;
    std::string m_lateText;
};

TEST_F(ReadSessionTest, ListingOpensTheFileOnce) {
    const uint32_t before = m_file->FileOpenCount();
    const std::vector<TagListRow> rows = BuildTagList(*m_file);
    EXPECT_GT(rows.size(), 250u);
    EXPECT_EQ(m_file->FileOpenCount() - before, 1u);  // was one open per value read
}

// A file rewritten in place lends nothing to reads after the change, whether a listing's
// session began before it (what the session already held is the parsed file's), after it,
// or not at all.
TEST_F(ReadSessionTest, FileRewrittenInPlaceIsRefused) {
    for (const int sessionBegins : {0, 1, 2}) {  // never, before the change, after it
        SCOPED_TRACE(sessionBegins);
        WriteAndParse();
        std::optional<CFileReadSession> session;
        char bytes[2] = {'-', '-'};
        if (sessionBegins == 1) {
            session.emplace(*m_file);
            ASSERT_TRUE(Read(0x7FE00010, bytes, 2));
        }
        RewriteInPlace();
        if (sessionBegins == 2) session.emplace(*m_file);
        bytes[0] = bytes[1] = '-';
        EXPECT_FALSE(Read(m_late, bytes, 2));
        EXPECT_EQ(std::string(bytes, 2), "--");
        EXPECT_EQ(ValueText(m_late), "");
        EXPECT_EQ(m_file->String(m_late, "default"), "default");
        if (sessionBegins != 1) {
            EXPECT_EQ(ValueText(m_early), "");
        }
    }
}

// A new file moved over the path lends nothing, with the session open (renaming unlinks the
// parsed file, which moves its change time: the descriptor refuses too) or after it.
TEST_F(ReadSessionTest, FileReplacedDuringASessionLendsNothingNew) {
    std::optional<CFileReadSession> session(std::in_place, *m_file);
    char early[2] = {};
    ASSERT_TRUE(Read(0x7FE00010, early, 2));
    const std::string other = m_path + ".new";
    std::filesystem::copy_file(m_path, other);
    std::filesystem::rename(other, m_path);
    EXPECT_EQ(ValueText(m_late), "");
    session.reset();
    EXPECT_EQ(ValueText(m_late), "");
}

// Rewritten in place with size and modification time kept, as time-preserving tools do.
TEST_F(ReadSessionTest, FileRewrittenInPlaceWithItsOldTimeLendsNoBytes) {
    const CDicomElement* pixels = m_file->FindElement(0x7FE00010);
    ASSERT_FALSE(pixels->HasValue());
    std::vector<uint8_t> bytes(pixels->length);
    ASSERT_TRUE(m_file->ReadBytes(pixels, bytes.data(), 0, bytes.size()));
    // File times come from the kernel's coarse clock: once it is past the recorded change
    // time's second, the rewrite gets a new change time.
    struct stat before {};
    ASSERT_EQ(stat(m_path.c_str(), &before), 0);
    timespec now{};
    while (clock_gettime(CLOCK_REALTIME_COARSE, &now) == 0 && now.tv_sec <= before.st_ctim.tv_sec)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (uint8_t& byte : bytes)
        byte ^= 0x5A;
    const int fd = open(m_path.c_str(), O_WRONLY);
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), off_t(pixels->offset)), ssize_t(bytes.size()));
    close(fd);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, m_path.c_str(), times, 0), 0);
    EXPECT_FALSE(m_file->ReadBytes(pixels, bytes.data(), 0, bytes.size()));
}

}  // namespace
}  // namespace vexel
