// The scan-and-load job over real folders: what it lists and what it skips (and counts).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "common/test_paths.h"
#include "engine/headless_scan.h"
#include "engine/memory_services.h"
#include "engine/scan_and_load_job.h"
#include "engine/study_model.h"
#include "engine_phantoms.h"
#include "phantom/dicom_file_writer.h"
#include "phantom/phantom_writer.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

// A study folder: CT, PET and multi-frame series in nested folders.
fs::path WriteStudyFolder(const fs::path& root, const std::string& uidRoot, int slices) {
    phantom::PhantomOptions options;
    options.columns = options.rows = 32;
    options.slices = slices;
    options.frames = 4;
    options.uidRoot = uidRoot;
    std::string error;
    EXPECT_TRUE(phantom::WriteStudy(root, {true, true, true, false}, options, &error)) << error;
    return root;
}

// A small image that also carries a Directory Record Sequence: a DICOMDIR by content.
void WriteDirectoryLookalike(const fs::path& path) {
    phantom::CDataSetWriter data;
    data.AddString(0x00080016, "UI", "1.2.840.10008.1.3.10");
    data.AddString(0x00080018, "UI", "2.25.99");
    data.BeginSequence(0x00041220, true);
    data.EndSequence();
    data.AddUS(0x00280010, 2);
    data.AddUS(0x00280011, 2);
    data.AddUS(0x00280100, 16);
    data.AddUS(0x00280101, 16);
    data.AddString(0x00280004, "CS", "MONOCHROME2");
    const uint8_t pixels[8] = {};
    data.AddRaw(0x7FE00010, "OW", pixels);
    std::string error;
    EXPECT_TRUE(
        phantom::WriteDicomFile(path, {"1.2.840.10008.1.3.10", "2.25.99", ""}, data, &error))
        << error;
}

size_t SeriesCount(const std::vector<PatientView>& patients) {
    size_t count = 0;
    for (const auto& patient : patients)
        for (const auto& study : patient.studies)
            count += study.series.size();
    return count;
}

TEST(ScanAndLoadJob, ListsEverythingSkipsAndCountsWhatIsNotAnImage) {
    const fs::path root = test::ScratchDir("scan-mixed");
    WriteStudyFolder(root / "one", "2.25.1001", 6);
    WriteStudyFolder(root / "deep" / "er" / "two", "2.25.1002", 5);
    std::ofstream(root / "notes.txt") << "not an image";
    std::ofstream(root / "empty.dcm");
    fs::copy_file(test::SmallCtSeries(8).front(), root / "DicomDir");  // skipped by name
    WriteDirectoryLookalike(root / "index.dcm");                       // rejected by content
    fs::copy_file(test::SmallCtSeries(8).front(), root / "one" / "copy-of-a-slice.dcm");
    ASSERT_EQ(mkfifo((root / "pipe").c_str(), 0600), 0);
    fs::create_directory_symlink("..", root / "deep" / "loop");
    fs::create_symlink(root / "gone", root / "dangling");

    CSimulatedMemoryLoad load(10);
    CMemoryServices services(load, test::QuietOptions());
    StudyModel model;
    HeadlessScanRequest request;
    request.folders = {(root / "").string()};  // a trailing slash changes nothing
    const HeadlessScanSummary summary = RunHeadlessScan(services.Manager(), model, request);

    EXPECT_TRUE(summary.finished);
    // Every file the phantom wrote is an image, and so is the copied slice of a third series.
    uint32_t images = 0;
    for (const char* study : {"one", "deep/er/two"}) {
        for (const auto& entry : fs::recursive_directory_iterator(root / study)) {
            images += entry.is_regular_file();
        }
    }
    EXPECT_EQ(summary.loaded, images);
    EXPECT_EQ(summary.skippedFiles, 4u);  // notes, empty, DicomDir, index
    // The FIFO, the dangling link and the link back up, whose folder was entered already.
    EXPECT_EQ(summary.skippedEntries, 3u);
    EXPECT_EQ(summary.total, images + 4);
    EXPECT_EQ(model.FileCount(), images);
    EXPECT_EQ(SeriesCount(model.Snapshot()), 2u * 3 + 1);
}

}  // namespace
}  // namespace vexel
