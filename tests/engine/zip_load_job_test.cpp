// Archives loaded by the ZIP job as the viewer loads them: the series and instances equal a
// scan of the same files unpacked by `unzip`; hostile archives (escaping names, a link, a
// bomb against the budget, too many entries, damage, encryption) each say what went wrong,
// create nothing outside the cache folder and leave no file of a bad entry behind; a cancel
// inside an entry deletes its partial file.
#include "engine/zip_load_job.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zip.h>

#include <cstring>
#include <fstream>
#include <map>
#include <set>

#include "common/test_paths.h"
#include "engine/headless_scan.h"
#include "engine/archive_name.h"
#include "engine/engine_phantoms.h"
#include "engine/memory_manager.h"
#include "engine/memory_services.h"
#include "engine/study_model.h"
#include "engine/zip_engine.h"
#include "imaging/binary_value_cacher.h"
#include "phantom/phantom_writer.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;
using test::Quote;

constexpr uint32_t kSopInstanceUid = 0x00080018;

// Series UID -> SOP Instance UIDs of what a scan loaded.
using Instances = std::map<std::string, std::set<std::string>>;

struct Loaded {
    HeadlessScanSummary summary;
    Instances instances;
    std::vector<fs::path> leftFiles;  // in the cache folder after the scan
    bool privateFiles = true;         // every file left is 0600
};

Loaded Scan(const fs::path& scratch, const std::string& archive, const std::string& folder,
            ArchiveLimits limits = {}, std::optional<uint64_t> freeBytes = {},
            std::function<void(CDicomScanAndLoadJob&, uint32_t)> onMessage = {}) {
    Loaded result;
    const fs::path cacheRoot = scratch / "cache";
    CSimulatedMemoryLoad load(10);
    CMemoryServices services(load, test::QuietOptions());
    CMemoryManager& files = services.Manager();
    StudyModel model;
    CZIPEngine zip(test::BinaryDir() / "bin");
    DiskCacheLimits diskLimits;
    CBinaryValueCacher cache(cacheRoot, diskLimits, [freeBytes](const fs::path&) {
        return std::optional<uint64_t>(freeBytes.value_or(uint64_t(1) << 40));
    });
    HeadlessScanRequest request;
    request.threads = 2;
    request.onMessage = std::move(onMessage);
    if (archive.empty()) {
        request.folders = {folder};
    } else {
        request.archive = archive;
        request.zip = &zip;
        request.cache = &cache;
        request.archiveLimits = limits;
    }
    result.summary = RunHeadlessScan(files, model, request);
    for (const PatientView& patient : model.Snapshot())
        for (const StudyView& study : patient.studies)
            for (const SeriesView& series : study.series)
                for (const std::string& path : model.GetSeriesFiles(series.id)) {
                    auto [file, status] = files.Open(path);
                    if (file) result.instances[series.seriesInstanceUid].insert(
                        file->String(kSopInstanceUid));
                }
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(cacheRoot, error)) {
        if (!entry.is_regular_file()) continue;
        result.leftFiles.push_back(entry.path());
        struct stat info {};
        if (::stat(entry.path().c_str(), &info) != 0 || (info.st_mode & 0777) != 0600)
            result.privateFiles = false;
    }
    return result;
}

// Every path below root, so that nothing new may appear outside the cache folder.
std::set<std::string> Tree(const fs::path& root) {
    std::set<std::string> paths;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(root, error))
        if (entry.path().string().find("/cache") == std::string::npos)
            paths.insert(entry.path().string());
    return paths;
}

// Adds files under names of our choosing, as no command-line zip would.
void WriteWithLibzip(const fs::path& archive,
                     const std::vector<std::pair<std::string, std::string>>& entries) {
    int error = 0;
    zip_t* z = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(z, nullptr);
    for (const auto& [name, content] : entries) {
        zip_source_t* source = zip_source_buffer(z, content.data(), content.size(), 0);
        ASSERT_GE(zip_file_add(z, name.c_str(), source, ZIP_FL_ENC_UTF_8), 0) << name;
    }
    ASSERT_EQ(zip_close(z), 0);
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The middle of the compressed data of the archive's first file, from the local headers.
size_t FirstFileData(const std::string& zip) {
    const auto u16 = [&](size_t at) { return size_t(uint8_t(zip[at])) | size_t(uint8_t(zip[at + 1])) << 8; };
    for (size_t at = 0; at + 30 <= zip.size() && zip.compare(at, 4, "PK\3\4") == 0;) {
        const size_t compressed = u16(at + 18) | u16(at + 20) << 16;
        const size_t data = at + 30 + u16(at + 26) + u16(at + 28);
        if (compressed > 0) return data + compressed / 2;
        at = data + compressed;
    }
    return 0;
}

class ZipLoadJob : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveProgram("zip") || !test::HaveProgram("unzip"))
            GTEST_SKIP() << "zip and unzip (Info-ZIP) not installed";
        root = test::ScratchDir("zip-load-job");
        phantom::PhantomOptions options;
        options.columns = options.rows = 32;
        options.slices = 6;
        std::string error;
        ASSERT_TRUE(phantom::WriteStudy(root / "src" / "study", {true, true, false, false},
                                        options, &error))
            << error;
        slice = ReadAll(root / "src" / "study" / "CT" / "CT0001.dcm");
        ASSERT_FALSE(slice.empty());
    }
    void Zip(const std::string& archive, const std::string& flags) {
        ASSERT_EQ(std::system(("cd " + Quote(root / "src") + " && zip -q -r " + flags + " " +
                               Quote(root / archive) + " study")
                                  .c_str()),
                  0);
    }
    fs::path root;
    std::string slice;
};

TEST_F(ZipLoadJob, ArchivesLoadWhatUnzipGives) {
    const Loaded unpacked = Scan(root / "a", "", (root / "src").string());
    ASSERT_EQ(unpacked.summary.loaded, 9u);
    for (const char* flags : {"", "-0", "-fz", "-9 -D"}) {
        const std::string name = std::string("ok") + std::to_string(std::strlen(flags)) + ".zip";
        Zip(name, flags);
        const Loaded loaded = Scan(root / ("s" + name), (root / name).string(), "");
        EXPECT_EQ(loaded.instances, unpacked.instances) << flags;
        EXPECT_EQ(loaded.summary.loaded, 9u) << flags;
        EXPECT_TRUE(loaded.privateFiles) << flags;
        const ArchiveProblems none = loaded.summary.archiveProblems;
        EXPECT_FALSE(none.limitReached || none.unreadable || none.damaged || none.encrypted);
    }
}

TEST_F(ZipLoadJob, HostileArchivesSayWhatWentWrongAndWriteOnlyIntoTheCache) {
    const fs::path archive = root / "hostile.zip";
    const std::set<std::string> before = Tree(root.parent_path());
    const auto expectNoOutside = [&](const char* what) {
        std::set<std::string> after = Tree(root.parent_path());
        for (const std::string& path : before) after.erase(path);
        for (const std::string& path : after)
            EXPECT_NE(path.find("/zip-load-job/"), std::string::npos) << what << ": " << path;
        EXPECT_FALSE(fs::exists(root.parent_path() / "x.dcm")) << what;
        EXPECT_FALSE(fs::exists("/tmp/vexel-abs-x.dcm")) << what;
    };

    // Escaping and absolute names load by number; a link entry makes nothing.
    WriteWithLibzip(archive, {{"../../x.dcm", slice}, {"/tmp/vexel-abs-x.dcm", slice}});
    ASSERT_EQ(std::system(("cd " + Quote(root) + " && ln -sf /etc/passwd link && zip -q -y " +
                           Quote(archive) + " link")
                              .c_str()),
              0);
    Loaded loaded = Scan(root / "s1", archive.string(), "");
    EXPECT_EQ(loaded.leftFiles.size(), 2u) << "two copies of one slice, by number";
    EXPECT_EQ(loaded.instances.size(), 1u);
    expectNoOutside("names");

    // A bomb: a gigabyte of zeros against 64 MiB to spare; the job stops with a message.
    {
        const std::string zeros(256u << 20, '\0');
        WriteWithLibzip(archive, {{"a.dcm", slice}, {"zeros", zeros}, {"b.dcm", slice}});
    }
    loaded = Scan(root / "s2", archive.string(), "", {}, (64ull << 20) + (1024ull << 20));
    EXPECT_TRUE(loaded.summary.archiveProblems.limitReached);
    EXPECT_EQ(loaded.leftFiles.size(), 1u) << "only the entry before the bomb";

    // 300,000 empty entries: the cap of 200,000 stops them, and none makes a file.
    std::vector<std::pair<std::string, std::string>> many;
    for (int i = 0; i < 300'000; ++i) many.push_back({"e" + std::to_string(i), ""});
    WriteWithLibzip(archive, many);
    loaded = Scan(root / "s3", archive.string(), "");
    EXPECT_TRUE(loaded.summary.archiveProblems.limitReached);
    EXPECT_EQ(loaded.summary.total, 200'000u);
    EXPECT_TRUE(loaded.leftFiles.empty());

    // Damage: a flipped byte inside the compressed data, and an archive cut in the middle.
    Zip("damaged.zip", "-9");
    std::string bytes = ReadAll(root / "damaged.zip");
    const size_t inData = FirstFileData(bytes);
    ASSERT_NE(inData, 0u);
    bytes[inData] ^= 0x5A;
    std::ofstream(root / "damaged.zip", std::ios::binary | std::ios::trunc) << bytes;
    loaded = Scan(root / "s4", (root / "damaged.zip").string(), "");
    EXPECT_GE(loaded.summary.archiveProblems.damaged, 1u);
    EXPECT_EQ(loaded.leftFiles.size(), loaded.summary.loaded) << "no file of a bad entry";
    std::ofstream(root / "cut.zip", std::ios::binary | std::ios::trunc)
        << bytes.substr(0, bytes.size() / 2);
    loaded = Scan(root / "s5", (root / "cut.zip").string(), "");
    EXPECT_TRUE(loaded.summary.archiveProblems.unreadable);

    Zip("secret.zip", "-P secret");
    loaded = Scan(root / "s6", (root / "secret.zip").string(), "");
    EXPECT_EQ(loaded.summary.archiveProblems.encrypted, 9u);
    EXPECT_EQ(loaded.summary.loaded, 0u);
    expectNoOutside("all");
}

TEST_F(ZipLoadJob, ArchivesAreToldByNameOrByContent) {
    Zip("named.zip", "");
    fs::copy_file(root / "named.zip", root / "study.2024.bin");
    ASSERT_EQ(mkfifo((root / "pipe.zip").c_str(), 0600), 0);
    const fs::path dicom = root / "src" / "study" / "CT" / "CT0001.dcm";
    EXPECT_TRUE(IsArchivePath("a/B.ZIP") && IsArchivePath("x.dmz") && !IsArchivePath("zip"));
    EXPECT_TRUE(IsZipByContent((root / "study.2024.bin").string()));
    EXPECT_FALSE(IsZipByContent(dicom.string()));
    EXPECT_FALSE(IsZipByContent((root / "pipe.zip").string())) << "a FIFO is never read";
    const Loaded loaded = Scan(root / "s", (root / "pipe.zip").string(), "");
    EXPECT_TRUE(loaded.summary.archiveProblems.unreadable);
}

TEST_F(ZipLoadJob, PausedFiftyTimesEveryFileLoadsOnce) {
    Zip("paused.zip", "");
    int pauses = 0;
    const Loaded loaded = Scan(root / "s", (root / "paused.zip").string(), "", {}, {},
                               [&](CDicomScanAndLoadJob& job, uint32_t) {
                                   if (pauses++ < 50) job.RequestPause();
                               });
    EXPECT_GE(pauses, 9);
    EXPECT_TRUE(loaded.summary.finished);
    EXPECT_EQ(loaded.summary.loaded, 9u);
    EXPECT_EQ(loaded.summary.duplicates, 0u);
    EXPECT_EQ(loaded.leftFiles.size(), 9u) << "an entry cut by a pause leaves no file";
}

TEST_F(ZipLoadJob, ACancelInsideAnEntryDeletesItsPartialFile) {
    // The cancel comes with the first file's question, while the large entry after it is
    // being copied.
    const std::string big(256u << 20, 'x');
    WriteWithLibzip(root / "big.zip", {{"a.dcm", slice}, {"big", big}});
    const Loaded loaded =
        Scan(root / "s", (root / "big.zip").string(), "", {}, {},
             [](CDicomScanAndLoadJob& job, uint32_t code) {
                 if (code == uint32_t(JobMessageCode::FileLoaded)) job.Cancel();
             });
    EXPECT_FALSE(loaded.summary.finished);
    EXPECT_LE(loaded.leftFiles.size(), 1u) << "the partial copy of the large entry is gone";
}

}  // namespace
}  // namespace vexel
