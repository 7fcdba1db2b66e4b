// Read sessions: a listing reads every value left in the file through one open, and a file
// rewritten meanwhile still never lends its bytes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "common/test_paths.h"
#include "dicom/dicom_reader.h"
#include "dicom/tag_list.h"
#include "phantom/phantom_writer.h"

namespace vexel {
namespace {

// Values left in the file: one near its start, one after about 120 KiB of private blocks.
// Which tags those are depends on what the process loaded before (the preload set).
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
        for (const TagListRow& row : BuildTagList(*m_file)) {
            if (MakeTag(row.group, row.element) == tag && row.depth == 0) return row.valueText;
        }
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

// A listing whose session began before the file was rewritten in place reads nothing new
// from it: what it already held is the parsed file's, everything else stays empty.
TEST_F(ReadSessionTest, FileRewrittenDuringAListingIsRefused) {
    CFileReadSession session(*m_file);
    char early[2] = {};
    ASSERT_TRUE(Read(m_early, early, 2));
    RewriteInPlace();
    char late[2] = {'-', '-'};
    EXPECT_FALSE(Read(m_late, late, 2));
    EXPECT_EQ(std::string(late, 2), "--");
    EXPECT_EQ(ValueText(m_late), "");
    EXPECT_EQ(m_file->String(m_late, "default"), "default");
}

TEST_F(ReadSessionTest, ChangesAreCaughtWithAndWithoutASession) {
    struct Case {
        const char* name;
        bool session;
    };
    for (const Case& c : {Case{"single reads", false}, Case{"session", true}}) {
        WriteAndParse();
        RewriteInPlace();
        std::optional<CFileReadSession> session;
        if (c.session) session.emplace(*m_file);
        EXPECT_EQ(ValueText(m_late), "") << c.name;
        EXPECT_EQ(ValueText(m_early), "") << c.name;
    }
}

// The session's descriptor stays on the parsed file: a new file moved over the path later
// changes nothing for it, while single reads refuse the stranger.
// Renaming over the path unlinks the parsed file, which moves its change time: the open
// descriptor then refuses too, on the safe side.
TEST_F(ReadSessionTest, FileReplacedDuringASessionLendsNothingNew) {
    std::optional<CFileReadSession> session(std::in_place, *m_file);
    char early[2] = {};
    ASSERT_TRUE(Read(m_early, early, 2));
    const std::string other = m_path + ".new";
    std::filesystem::copy_file(m_path, other);
    std::filesystem::rename(other, m_path);
    EXPECT_EQ(ValueText(m_late), "");
    session.reset();
    EXPECT_EQ(ValueText(m_late), "");
}

}  // namespace
}  // namespace vexel
