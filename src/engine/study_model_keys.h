// What one file tells the study model: the keys that place it and the texts its rows show.
#pragma once

#include <cstdint>
#include <string>

#include "engine/series_file_record.h"

namespace vexel {

class CDicomFile;

struct StudyFileKeys {
    // Patient: (0010,0010) as UTF-8 text and (0010,0030); padding trimmed, empty if absent.
    std::string patientName;
    std::string birthDate;
    // Study: (0020,000D), (0008,0020), (0008,0030), (0008,1030).
    std::string studyInstanceUid;
    std::string studyDate;
    std::string studyTime;
    std::string studyDescription;
    // Series: (0020,0011) with default 0 for grouping, (0020,000E), (0008,103E), (0008,0060),
    // (0008,0021), (0008,0031).
    int32_t seriesNumber = 0;
    std::string seriesInstanceUid;
    std::string seriesDescription;
    std::string modality;
    std::string seriesDate;
    std::string seriesTime;
    // The file's own numbers, position and path.
    SeriesFileRecord file;
};

// Reads the keys of a parsed file. The number of frames is the image's when one is attached
// (the image layer already settled odd Number of Frames values), else (0028,0008), at least 1.
StudyFileKeys ReadStudyFileKeys(CDicomFile& file);

}  // namespace vexel
