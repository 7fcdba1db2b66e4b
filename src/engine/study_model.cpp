#include "engine/study_model.h"

#include <algorithm>
#include <iterator>

#include "dicom/dicom_file.h"
#include "engine/study_model_view.h"

namespace vexel {
namespace {

// Inserts record where `before` orders it; returns that position.
template <typename Record, typename Before>
uint32_t InsertSorted(std::vector<std::unique_ptr<Record>>& records, std::unique_ptr<Record> record,
                      Before before) {
    const auto at =
        std::upper_bound(records.begin(), records.end(), record,
                         [&](const std::unique_ptr<Record>& a, const std::unique_ptr<Record>& b) {
                             return before(*a, *b);
                         });
    const auto position = static_cast<uint32_t>(at - records.begin());
    records.insert(at, std::move(record));
    return position;
}

}  // namespace

AddFileResult StudyModel::AddFile(CDicomFile& file) {
    // Values are read before the model's lock is taken: reading may wait for the file.
    return AddFile(ReadStudyFileKeys(file));
}

AddFileResult StudyModel::AddFile(StudyFileKeys keys) {
    std::lock_guard lock(m_lock);
    if (auto duplicate = FindDuplicateLocked(keys.file)) return *duplicate;
    return AddLocked(keys);
}

std::optional<AddFileResult> StudyModel::FindDuplicateLocked(const SeriesFileRecord& file) {
    AddFileResult result;
    result.revision = m_revision;
    auto found = m_paths.end();
    if (!file.path.empty()) found = m_paths.find(file.path);
    if (found != m_paths.end()) {
        result.status = AddFileStatus::DuplicatePath;
    } else if (!file.sopInstanceUid.empty()) {
        found = m_instances.find(file.sopInstanceUid);
        if (found == m_instances.end()) return std::nullopt;
        result.status = AddFileStatus::DuplicateInstance;
    } else {
        return std::nullopt;
    }
    result.series = found->second;
    ++m_duplicates;
    if (auto series = m_seriesById.find(result.series); series != m_seriesById.end()) {
        ++series->second->duplicates;
    }
    return result;
}

AddFileResult StudyModel::AddLocked(StudyFileKeys& keys) {
    AddFileResult result;
    PatientRecord& patient = PlacePatient(keys, result.patient);
    StudyRecord& study = PlaceStudy(patient, keys, result.study);
    SeriesRecord& series = PlaceSeries(study, keys, result.seriesPlacement);
    result.series = series.id;
    if (!keys.file.path.empty()) m_paths.emplace(keys.file.path, series.id);
    if (!keys.file.sopInstanceUid.empty()) m_instances.emplace(keys.file.sopInstanceUid, series.id);
    result.file.position = static_cast<uint32_t>(series.AddFile(std::move(keys.file)));
    result.file.created = true;
    ++m_fileCount;
    result.revision = ++m_revision;
    return result;
}

PatientRecord& StudyModel::PlacePatient(const StudyFileKeys& keys, StudyPlacement& placement) {
    for (uint32_t i = 0; i < m_patients.size(); ++i) {
        if (m_patients[i]->Matches(keys.patientName, keys.birthDate)) {
            placement.position = i;
            return *m_patients[i];
        }
    }
    auto patient = std::make_unique<PatientRecord>();
    patient->name = keys.patientName;
    patient->birthDate = keys.birthDate;
    PatientRecord& made = *patient;
    placement.position = InsertSorted(m_patients, std::move(patient), PatientBefore);
    placement.created = true;
    return made;
}

StudyRecord& StudyModel::PlaceStudy(PatientRecord& patient, const StudyFileKeys& keys,
                                    StudyPlacement& placement) {
    // A file without Study Instance UID matches no study: it starts one of its own.
    if (!keys.studyInstanceUid.empty()) {
        for (uint32_t i = 0; i < patient.studies.size(); ++i) {
            if (patient.studies[i]->studyInstanceUid == keys.studyInstanceUid) {
                placement.position = i;
                return *patient.studies[i];
            }
        }
    }
    auto study = std::make_unique<StudyRecord>();
    study->studyInstanceUid = keys.studyInstanceUid;
    study->studyDate = keys.studyDate;
    study->studyTime = keys.studyTime;
    study->description = keys.studyDescription;
    study->firstPath = keys.file.path;
    StudyRecord& made = *study;
    placement.position = InsertSorted(patient.studies, std::move(study), StudyBefore);
    placement.created = true;
    return made;
}

SeriesRecord& StudyModel::PlaceSeries(StudyRecord& study, const StudyFileKeys& keys,
                                      StudyPlacement& placement) {
    const bool multiFrame = keys.file.numberOfFrames > 1;
    if (!multiFrame) {
        for (uint32_t i = 0; i < study.series.size(); ++i) {
            if (study.series[i]->Accepts(keys)) {
                placement.position = i;
                return *study.series[i];
            }
        }
    }
    auto series = std::make_unique<SeriesRecord>();
    series->id = m_nextSeriesId++;
    series->study = &study;
    series->seriesNumber = keys.seriesNumber;
    series->seriesInstanceUid = keys.seriesInstanceUid;
    series->multiFrame = multiFrame;
    series->description = keys.seriesDescription;
    series->modality = keys.modality;
    series->date = keys.seriesDate;
    series->time = keys.seriesTime;
    series->first = keys.file;  // the order of a multi-frame series needs it now
    SeriesRecord& made = *series;
    m_seriesById.emplace(made.id, &made);
    placement.position = InsertSorted(study.series, std::move(series), SeriesBefore);
    placement.created = true;
    return made;
}

const SeriesRecord* StudyModel::FindLocked(SeriesId series) const {
    const auto found = m_seriesById.find(series);
    return found == m_seriesById.end() ? nullptr : found->second;
}

std::vector<std::string> StudyModel::GetSeriesFiles(SeriesId series) const {
    std::lock_guard lock(m_lock);
    std::vector<std::string> paths;
    if (const SeriesRecord* record = FindLocked(series)) {
        paths.reserve(record->files.size());
        for (const SeriesFileRecord& file : record->files)
            paths.push_back(file.path);
    }
    return paths;
}

std::vector<SeriesFileRecord> StudyModel::GetSeriesFileRecords(SeriesId series) const {
    std::lock_guard lock(m_lock);
    const SeriesRecord* record = FindLocked(series);
    return record ? record->files : std::vector<SeriesFileRecord>{};
}

std::optional<SeriesView> StudyModel::FindSeries(SeriesId series) const {
    std::lock_guard lock(m_lock);
    const SeriesRecord* record = FindLocked(series);
    if (record == nullptr) return std::nullopt;
    return ViewOf(*record);
}

std::vector<PatientView> StudyModel::Snapshot() const {
    std::lock_guard lock(m_lock);
    std::vector<PatientView> patients;
    patients.reserve(m_patients.size());
    for (const auto& patient : m_patients)
        patients.push_back(ViewOf(*patient));
    return patients;
}

std::optional<PatientView> StudyModel::FindSeriesContext(SeriesId series) const {
    std::lock_guard lock(m_lock);
    const SeriesRecord* record = FindLocked(series);
    if (record == nullptr) return std::nullopt;
    for (const auto& patient : m_patients) {
        for (const auto& study : patient->studies) {
            for (const auto& listed : study->series) {
                if (listed.get() != record) continue;
                PatientView view;
                view.name = patient->name;
                view.birthDate = patient->birthDate;
                view.studies.push_back(ViewOf(*study));
                return view;
            }
        }
    }
    return std::nullopt;
}

size_t StudyModel::PatientCount() const {
    std::lock_guard lock(m_lock);
    return m_patients.size();
}

size_t StudyModel::FileCount() const {
    std::lock_guard lock(m_lock);
    return m_fileCount;
}

uint32_t StudyModel::DuplicateCount() const {
    std::lock_guard lock(m_lock);
    return m_duplicates;
}

uint64_t StudyModel::Revision() const {
    std::lock_guard lock(m_lock);
    return m_revision;
}

void StudyModel::Clear() {
    std::lock_guard lock(m_lock);
    m_patients.clear();
    m_seriesById.clear();
    m_instances.clear();
    m_paths.clear();
    m_fileCount = 0;
    m_duplicates = 0;
    ++m_revision;
}

}  // namespace vexel
