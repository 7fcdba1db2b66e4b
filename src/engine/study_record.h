// A study of the study model: the series of one Study Instance UID under one patient.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/series_record.h"

namespace vexel {

struct StudyRecord {
    std::string studyInstanceUid;  // (0020,000D), empty when absent
    std::string studyDate;         // (0008,0020), YYYYMMDD or empty
    std::string studyTime;         // (0008,0030)
    std::string description;       // (0008,1030)
    // The file that created the study: a study without UID holds only that file.
    std::string firstPath;
    std::vector<std::unique_ptr<SeriesRecord>> series;  // display order (SeriesBefore)
};

// Display order within a patient: newest study date first (byte-wise, so YYYYMMDD dates
// sort by time and studies without a date come last), then newest study time, then Study
// Instance UID, then the creating file's path (studies without UID hold one file each).
bool StudyBefore(const StudyRecord& a, const StudyRecord& b);

}  // namespace vexel
