// The patients, studies and series of everything loaded, in display order.
//
// Files are filed by patient (name and birth date), study (Study Instance UID) and series
// (series number and Series Instance UID; each multi-frame file alone). Every level is kept
// sorted with keys read from the files only, so the final order never depends on the order
// in which files arrive; a new record goes where the order puts it and its position is
// reported so that a view can insert a row there.
//
// The model holds paths, not file references: a referenced file pins its decoded frames
// (the memory manager never releases frames of a file in use), so listing every loaded file
// would keep all of them in memory. Callers open the paths again through the registry.
//
// Thread safety: every member may be called from any thread; one lock guards the tree and
// readers get copies. AddFile reads the file's values before it takes that lock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/patient_record.h"
#include "engine/study_model_keys.h"
#include "engine/study_model_view.h"

namespace vexel {

class CDicomFile;

// Where a file went at one level: the record's position in its parent and whether this file
// created the record.
struct StudyPlacement {
    static constexpr uint32_t kCreatedBit = 0x10000000;
    uint32_t position = 0;
    bool created = false;
    // Position in the low 28 bits, kCreatedBit when created.
    uint32_t Encoded() const {
        return (position & (kCreatedBit - 1)) | (created ? kCreatedBit : 0);
    }
};

enum class AddFileStatus {
    Added,
    DuplicateInstance,  // another file with this SOP Instance UID is listed; refused
    DuplicatePath,      // this path is listed already; refused
};

struct AddFileResult {
    AddFileStatus status = AddFileStatus::Added;
    // The series that received the file, or that lists the earlier copy of a duplicate.
    SeriesId series = 0;
    // Valid when added: positions of the patient in the model, the study in its patient,
    // the series in its study and the file in the series' load order.
    StudyPlacement patient;
    StudyPlacement study;
    StudyPlacement seriesPlacement;
    StudyPlacement file;
    // The model's revision after this change. Positions hold against the model as it was
    // after the changes with lower revisions: a view applies results in revision order.
    uint64_t revision = 0;
};

class StudyModel {
public:
    StudyModel() = default;
    StudyModel(const StudyModel&) = delete;
    StudyModel& operator=(const StudyModel&) = delete;

    // Files a parsed file (its image attached) under its patient, study and series. The
    // caller keeps its reference for the time of the call; the model keeps only the path.
    AddFileResult AddFile(CDicomFile& file);
    AddFileResult AddFile(StudyFileKeys keys);

    // The paths of a series' files in load order: acquisition number, instance number,
    // position along the slice normal, SOP Instance UID, path. Empty for an unknown id.
    std::vector<std::string> GetSeriesFiles(SeriesId series) const;
    std::vector<SeriesFileRecord> GetSeriesFileRecords(SeriesId series) const;
    std::optional<SeriesView> FindSeries(SeriesId series) const;

    // The whole tree in display order.
    std::vector<PatientView> Snapshot() const;
    // The patient of a series with only the study that holds it (its series all listed).
    std::optional<PatientView> FindSeriesContext(SeriesId series) const;
    size_t PatientCount() const;
    size_t FileCount() const;
    // Files refused as duplicates since the last Clear.
    uint32_t DuplicateCount() const;
    uint64_t Revision() const;

    // Destroys every record. Series ids are not reused, so old ids find nothing.
    void Clear();

private:
    AddFileResult AddLocked(StudyFileKeys& keys);
    std::optional<AddFileResult> FindDuplicateLocked(const SeriesFileRecord& file);
    PatientRecord& PlacePatient(const StudyFileKeys& keys, StudyPlacement& placement);
    StudyRecord& PlaceStudy(PatientRecord& patient, const StudyFileKeys& keys,
                            StudyPlacement& placement);
    SeriesRecord& PlaceSeries(StudyRecord& study, const StudyFileKeys& keys,
                              StudyPlacement& placement);
    const SeriesRecord* FindLocked(SeriesId series) const;

    mutable std::mutex m_lock;
    std::vector<std::unique_ptr<PatientRecord>> m_patients;  // display order
    std::unordered_map<SeriesId, SeriesRecord*> m_seriesById;
    // Listed SOP Instance UIDs and paths, with the series that lists them.
    std::unordered_map<std::string, SeriesId> m_instances;
    std::unordered_map<std::string, SeriesId> m_paths;
    SeriesId m_nextSeriesId = 1;
    size_t m_fileCount = 0;
    uint32_t m_duplicates = 0;
    uint64_t m_revision = 0;
};

}  // namespace vexel
