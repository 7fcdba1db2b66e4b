// A series of the study model: the single-frame files that share a series number and a
// Series Instance UID within a study, or one multi-frame file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/series_file_record.h"

namespace vexel {

struct StudyFileKeys;
struct StudyRecord;

// Names a series for as long as its model lives; never reused, so a stale id finds nothing.
using SeriesId = uint64_t;

struct SeriesRecord {
    SeriesId id = 0;
    StudyRecord* study = nullptr;
    int32_t seriesNumber = 0;  // (0020,0011), 0 when absent: the grouping key
    std::string seriesInstanceUid;
    bool multiFrame = false;  // created by a file of more than one frame
    // Shown in rows; taken from the file that created the series.
    std::string description;
    std::string modality;
    std::string date;
    std::string time;
    // The numbers and path of the file that created the series.
    SeriesFileRecord first;
    uint32_t frameTotal = 0;              // frames of all files, saturating
    uint32_t duplicates = 0;              // files refused because they repeat one of this series
    std::vector<SeriesFileRecord> files;  // in load order (SeriesFileBefore)

    // Whether a single-frame file with these keys joins this series.
    bool Accepts(const StudyFileKeys& keys) const;
    // Inserts the file where the load order puts it; returns that position.
    size_t AddFile(SeriesFileRecord file);
};

// Display order within a study: series number; then series of single-frame files before
// multi-frame files; multi-frame files by acquisition number, instance number and path;
// the Series Instance UID settles what is left. Only keys that never change after the
// series was created take part, so the order does not depend on the order of loading.
bool SeriesBefore(const SeriesRecord& a, const SeriesRecord& b);

}  // namespace vexel
