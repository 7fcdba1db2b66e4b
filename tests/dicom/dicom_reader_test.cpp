// The reader on damaged and odd input: hand-built streams, and real files cut at every element
// boundary (each copy fails or loads less, and its listing stays within the file). Deferred
// reads trust the stored path only while it is the parsed file, even with old times put back.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "common/byte_builder.h"
#include "common/test_paths.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "dicom/tag_list.h"
#include "phantom/phantom_writer.h"

namespace vexel {
namespace {

using test::ByteBuilder;

constexpr std::string_view kExplicitLE = "1.2.840.10008.1.2.1";

class ReaderTest : public testing::Test {
protected:
    void SetUp() override {
        m_dir = test::ScratchDir(std::string("reader-") +
                                 testing::UnitTest::GetInstance()->current_test_info()->name());
    }

    ReadStatus Read(const ByteBuilder& bytes, CDicomFile& file, bool deferred = true) {
        m_path = (m_dir / "file.dcm").string();
        EXPECT_TRUE(bytes.WriteTo(m_path));
        file.SetDeferredValues(deferred);
        return ReadDicomFile(file, m_path);
    }

    // Tags of the file's elements, depth-first, with one blank of indent per level.
    static std::string Outline(const CDicomElement* container, int depth = 0) {
        std::string out;
        for (const CDicomElement* e = container->firstChild; e; e = e->nextSibling) {
            char line[32];
            std::snprintf(line, sizeof line, "%*s%04X,%04X%s\n", depth, "", e->group, e->element,
                          e->synthetic ? "*" : "");
            out += line;
            out += Outline(e, depth + 1);
        }
        return out;
    }

    std::filesystem::path m_dir;
    std::string m_path;
};

ByteBuilder ExplicitFile() {
    ByteBuilder b;
    b.Preamble().Meta(kExplicitLE);
    return b;
}

// Damaged streams fail cleanly: never an Ok with a half-read tree, never a crash or a hang.
TEST_F(ReaderTest, DamagedStreamsFail) {
    ByteBuilder item;
    item.Explicit(0x0008, 0x0100, "SH", "CODE01");
    std::vector<std::pair<const char*, ByteBuilder>> cases;
    cases.emplace_back("131 bytes", ByteBuilder().Raw(std::string(131, '\0')));
    // 132 bytes without "DICM": tried as a bare data set, which lacks SOP Class UID.
    cases.emplace_back("bare without SOP class",
                       ByteBuilder()
                           .Implicit(0x0008, 0x0060, "CT")
                           .Implicit(0x0010, 0x0010, std::string(114, 'A')));
    cases.emplace_back("unclosed undefined sequence",
                       ExplicitFile()
                           .ExplicitHeader(0x0008, 0x1032, "SQ", 0xFFFFFFFF)
                           .Item(0xFFFFFFFF)
                           .Explicit(0x0008, 0x0100, "SH", "CODE01"));
    // A length that would seek backwards or far past the end.
    for (uint32_t lie : {0xFFFFFFF4u, 0x7FFFFFFFu, 0x80000000u, 1000u}) {
        cases.emplace_back("huge length", ExplicitFile()
                                              .Explicit(0x0008, 0x0060, "CS", "CT")
                                              .ExplicitHeader(0x0009, 0x1010, "OB", lie)
                                              .Raw(std::string(16, 'x')));
    }
    cases.emplace_back("value past its item", ExplicitFile()
                                                  .ExplicitHeader(0x0008, 0x1032, "SQ", 0xFFFFFFFF)
                                                  .Item(static_cast<uint32_t>(item.Size() - 2))
                                                  .Raw(item.Bytes())
                                                  .SequenceEnd()
                                                  .Explicit(0x0010, 0x0010, "PN", "Doe^John"));
    ByteBuilder deep = ExplicitFile();
    for (int i = 0; i < 5000; ++i)
        deep.ExplicitHeader(0x0008, 0x1032, "SQ", 0xFFFFFFFF).Item(0xFFFFFFFF);
    cases.emplace_back("deep nesting", deep);
    for (auto& [name, bytes] : cases) {
        CDicomFile file;
        EXPECT_NE(Read(bytes, file), ReadStatus::Ok) << name;
    }
}

// A defined-length sequence that ends at the end of the file, and an item left open by its
// sequence's delimiter, are closed with synthetic delimiters (marked *).
TEST_F(ReaderTest, OpenSequencesAndItemsAreClosed) {
    ByteBuilder item;
    item.Explicit(0x0008, 0x0100, "SH", "CODE01");
    ByteBuilder atEnd = ExplicitFile();
    atEnd.ExplicitHeader(0x0008, 0x1032, "SQ", static_cast<uint32_t>(item.Size() + 8));
    atEnd.Item(static_cast<uint32_t>(item.Size())).Raw(item.Bytes());
    ByteBuilder openItem = ExplicitFile();
    openItem.ExplicitHeader(0x0008, 0x1032, "SQ", 0xFFFFFFFF).Item(0xFFFFFFFF).Raw(item.Bytes());
    openItem.SequenceEnd().Explicit(0x0010, 0x0010, "PN", "Doe^John");
    const std::string opening = "0002,0000\n0002,0010\n0008,1032\n FFFE,E000\n  0008,0100\n FFFE,E00D*\n";
    for (const auto& [bytes, outline] : {std::pair{atEnd, opening + "FFFE,E0DD*\n"},
                                   std::pair{openItem, opening + "FFFE,E0DD\n0010,0010\n"}}) {
        CDicomFile file;
        ASSERT_EQ(Read(bytes, file), ReadStatus::Ok);
        EXPECT_EQ(Outline(file.Root()), outline);
    }
}

TEST_F(ReaderTest, NewAndUnknownVrsUseTheRightLengthForm) {
    ByteBuilder b = ExplicitFile();
    b.Explicit(0x0008, 0x0119, "UC", "long code value");
    b.Explicit(0x0008, 0x0120, "UR", "http://example.org/x ");
    b.Explicit(0x0070, 0x1302, "OD", std::string(8, '\0'));
    // Unknown VR text for Pixel Data: the dictionary's OW form has a 32-bit length.
    b.ExplicitHeader(0x7FE0, 0x0010, "ZZ", 4).Raw("\x01\x02\x03\x04");
    CDicomFile file;
    ASSERT_EQ(Read(b, file, false), ReadStatus::Ok);
    EXPECT_EQ(file.FindElement(0x00080119)->vr, VrCode::UC);
    EXPECT_EQ(file.String(0x00080119), "long code value");
    EXPECT_EQ(file.FindElement(0x00080120)->vr, VrCode::UR);
    EXPECT_EQ(file.FindElement(0x00701302)->vr, VrCode::OD);
    EXPECT_EQ(file.FindElement(0x7FE00010)->length, 4u);
}

TEST_F(ReaderTest, MoreThan769TopLevelElementsAreStillFound) {
    ByteBuilder b = ExplicitFile();
    b.Explicit(0x0008, 0x0060, "CS", "CT");
    for (uint16_t e = 0x1000; e < 0x1000 + 1200; ++e)
        b.Explicit(0x0009, e, "LO", "private ");
    b.Explicit(0x0028, 0x0010, "US", ByteBuilder::LittleU16(512));
    b.Explicit(0x0028, 0x0010, "US", ByteBuilder::LittleU16(7));  // repeated: first wins
    b.Explicit(0x7FE0, 0x0010, "OW", std::string(8, '\x11'));
    CDicomFile file;
    ASSERT_EQ(Read(b, file), ReadStatus::Ok);
    EXPECT_EQ(CDicomFile::ChildCount(file.Root()), 2u + 1u + 1200u + 3u);
    EXPECT_EQ(file.Integer(0x00280010, -1), 512);
    EXPECT_NE(file.FindElement(0x7FE00010), nullptr);
    EXPECT_NE(file.FindElement(0x00091000 + 1199), nullptr);
}

TEST_F(ReaderTest, DeferredValueOfReplacedFileIsMissing) {
    ByteBuilder b = ExplicitFile();
    b.Explicit(0x0008, 0x0060, "CS", "CT").Explicit(0x0018, 0x0015, "CS", "HEAD");
    // A private tag nothing else in the test run stores, so it is not preloaded.
    b.Explicit(0x0011, 0x1F3A, "LO", "Scanner ");
    CDicomFile file;
    ASSERT_EQ(Read(b, file), ReadStatus::Ok);
    CDicomElement* model = file.FindElement(0x00111F3A);
    ASSERT_FALSE(model->HasValue());

    // Same path, another file of the same size: the deferred read must not trust it.
    ByteBuilder other = ExplicitFile();
    other.Explicit(0x0008, 0x0060, "CS", "CT").Explicit(0x0018, 0x0015, "CS", "KNEE");
    other.Explicit(0x0011, 0x1F3A, "LO", "Another ");
    std::filesystem::remove(m_path);
    ASSERT_TRUE(other.WriteTo(m_path));
    EXPECT_EQ(file.String(0x00111F3A, "none"), "none");
    uint8_t byte;
    EXPECT_FALSE(file.ReadBytes(model, &byte, 0, 1));

    std::filesystem::remove(m_path);
    EXPECT_EQ(file.String(0x00111F3A, "gone"), "gone");
}

TEST_F(ReaderTest, FilesBeyondTwoGigabytesLoad) {
    // A sparse file: a 2.5 GiB private OB value (a hole on disk) followed by one element.
    constexpr uint32_t kHuge = 0xA0000000u;
    ByteBuilder head = ExplicitFile();
    head.Explicit(0x0008, 0x0060, "CS", "CT").ExplicitHeader(0x0009, 0x1010, "OB", kHuge);
    ByteBuilder tail;
    tail.Explicit(0x0011, 0x1F3C, "LO", "after the hole");
    const std::string path = (m_dir / "huge.dcm").string();
    ASSERT_TRUE(head.WriteTo(path));
    {
        std::FILE* out = std::fopen(path.c_str(), "r+b");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(fseeko(out, static_cast<off_t>(head.Size() + kHuge), SEEK_SET), 0);
        ASSERT_EQ(std::fwrite(tail.Bytes().data(), 1, tail.Size(), out), tail.Size());
        std::fclose(out);
    }
    CDicomFile file;
    file.SetDeferredValues(true);
    ASSERT_EQ(ReadDicomFile(file, path), ReadStatus::Ok);
    CDicomElement* after = file.FindElement(0x00111F3C);
    ASSERT_NE(after, nullptr);
    EXPECT_GT(after->offset, uint64_t{1} << 31);
    EXPECT_EQ(file.String(0x00111F3C), "after the hole");
    uint8_t last = 0xFF;
    EXPECT_TRUE(file.ReadBytes(file.FindElement(0x00091010), &last, kHuge - 1, 1));
    EXPECT_EQ(last, 0);
    std::filesystem::remove(path);
}


namespace fs = std::filesystem;

// Files of pydicom's test set, each with a different structure to cut through: implicit VR
// nested defined lengths, deep explicit sequences, big endian, an undefined-length UN
// sequence, private sequences, encapsulated fragments, deflate, a bare data set, DICOMDIR.
constexpr const char* kCases[] = {"rtplan.dcm", "test-SR.dcm", "MR_small_bigendian.dcm",
                                  "UN_sequence.dcm", "priv_SQ.dcm", "MR_small_jpeg_ls_lossless.dcm",
                                  "image_dfl.dcm", "rtstruct.dcm", "dicomdirtests/DICOMDIR"};

size_t TreeSize(const CDicomElement* container) {
    size_t count = 0;
    for (const CDicomElement* child = container->firstChild; child; child = child->nextSibling)
        count += 1 + TreeSize(child);
    return count;
}

// Where headers start and values start and end, as far as the whole file's tree tells:
// an explicit VR header is 8 or 12 bytes before its value, an implicit one 8.
void CollectBoundaries(const CDicomElement* container, std::set<uint64_t>& cuts) {
    for (const CDicomElement* child = container->firstChild; child; child = child->nextSibling) {
        if (child->offset != 0) {
            for (const uint64_t back : {12u, 8u, 0u})
                if (child->offset >= back) cuts.insert(child->offset - back);
            cuts.insert(child->offset + child->length);
        }
        CollectBoundaries(child, cuts);
    }
}

class TruncationTest : public testing::TestWithParam<const char*> {};

TEST_P(TruncationTest, CutCopiesFailOrLoadLess) {
    VEXEL_REQUIRE_TESTDATA();
    const fs::path source = test::TestDataDir() / "pydicom/test_files" / GetParam();
    const std::vector<uint8_t> bytes = test::ReadFileBytes(source);
    ASSERT_FALSE(bytes.empty()) << source;

    CDicomFile whole;
    ASSERT_EQ(ReadDicomFile(whole, source.string()), ReadStatus::Ok) << source;
    const size_t wholeSize = TreeSize(whole.Root());
    std::set<uint64_t> cuts;
    // Offsets of a deflated data set count in the inflated bytes: random cuts only there.
    if (!whole.OffsetsDetached()) CollectBoundaries(whole.Root(), cuts);
    std::mt19937 random(20240229);
    for (int i = 0; i < 50; ++i)
        cuts.insert(random() % bytes.size());

    const fs::path cutPath = test::ScratchDir("truncation") / "cut.dcm";
    for (const uint64_t cut : cuts) {
        if (cut >= bytes.size()) continue;
        {
            // A new file each time: ext4 flushes a file truncated and rewritten in place.
            fs::remove(cutPath);
            std::ofstream out(cutPath, std::ios::binary);
            out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(cut));
        }
        for (const bool deferred : {true, false}) {
            CDicomFile file;
            file.SetDeferredValues(deferred);
            const ReadStatus status = ReadDicomFile(file, cutPath.string());
            if (status != ReadStatus::Ok) continue;
            EXPECT_LT(TreeSize(file.Root()), wholeSize) << "cut at " << cut << ", " << deferred;
            // Deferred values come back from the cut file; none may reach past its end.
            EXPECT_EQ(BuildTagList(file).size(), TreeSize(file.Root()));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(RealFiles, TruncationTest, testing::ValuesIn(kCases), [](const auto& row) {
    std::string name = row.param;
    std::replace_if(name.begin(), name.end(), [](char c) { return c == '/' || c == '.' || c == '-'; }, '_');
    return name;
});


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
