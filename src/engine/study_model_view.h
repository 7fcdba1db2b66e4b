// Copies of the study model's content, taken under its lock, for readers on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/series_record.h"

namespace vexel {

struct SeriesView {
    SeriesId id = 0;
    int32_t seriesNumber = 0;
    std::string seriesInstanceUid;
    bool multiFrame = false;
    std::string description;  // raw; rows show "unnamed" when empty
    std::string modality;
    std::string date;
    std::string time;
    std::string firstPath;  // the file in front of the load order
    uint32_t fileCount = 0;
    uint32_t frameTotal = 0;  // the image count of the series row
    uint32_t duplicates = 0;
};

struct StudyView {
    std::string studyInstanceUid;
    std::string date;
    std::string time;
    std::string description;
    // Distinct modalities of the series in display order; the first is the header's.
    std::vector<std::string> modalities;
    std::vector<SeriesView> series;  // its size is the header's series count
};

struct PatientView {
    std::string name;
    std::string birthDate;
    std::vector<StudyView> studies;
};

struct PatientRecord;
struct StudyRecord;

// Copies of records; the caller holds the model's lock.
SeriesView ViewOf(const SeriesRecord& series);
StudyView ViewOf(const StudyRecord& study);
PatientView ViewOf(const PatientRecord& patient);

}  // namespace vexel
