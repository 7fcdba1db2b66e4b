// Small image files with chosen study keys, and a registry to open them, for the study
// model tests.
#pragma once

#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/memory_services.h"
#include "engine/study_model.h"
#include "platform/memory_load.h"

namespace vexel::test {

// Each empty text and each unset number leaves its element out of the file.
struct StudyTestImage {
    std::string patientName = "DOE^JANE";
    std::string birthDate;
    std::string studyUid = "1.2.826.0.1.3680043.2.1143.1";
    std::string studyDate;
    std::string studyTime;
    std::string seriesUid = "1.2.826.0.1.3680043.2.1143.1.1";
    std::optional<int> seriesNumber;
    std::optional<int> acquisitionNumber;
    std::optional<int> instanceNumber;
    std::optional<std::array<double, 3>> position;
    std::string orientation = "1\\0\\0\\0\\1\\0";  // written with a position only
    std::string sopInstanceUid;
    std::string modality = "CT";
    int frames = 1;
};

// A 2 x 2, 16-bit MONOCHROME2 image with those keys; false with a test failure on error.
bool WriteStudyTestImage(const std::filesystem::path& path, const StudyTestImage& image);

// A folder of three patients (two names differ only in letter case), studies with and
// without date and UID, series with and without number, single- and multi-frame files, files
// without instance number: 135 files, none a copy of another. Paths in writing order.
std::vector<std::string> WriteMixedStudyFolder(const std::filesystem::path& dir);

// One line per row of a snapshot, in display order: "patient <name> <birth date>",
// "study <uid> <date>", "series <number> <modality> <uid> files=<n> frames=<n>".
std::vector<std::string> SnapshotRows(const std::vector<PatientView>& patients);
// Every regular file below folder, sorted by path.
std::vector<std::string> FilesBelow(const std::filesystem::path& folder);

// Opens files through a registry of its own, as a scan does, and files them into a model.
class CStudyModelLoader {
public:
    CStudyModelLoader();
    // Opens and adds path; none (and a test failure) when the file cannot be opened.
    std::optional<AddFileResult> Add(StudyModel& model, const std::string& path);
    // Opens the file; false when it cannot be read or its image has no frame.
    bool IsImage(const std::string& path);

private:
    CSimulatedMemoryLoad m_load{10};
    std::unique_ptr<CMemoryServices> m_services;
};

}  // namespace vexel::test
