// A patient of the study model: the studies of one Patient's Name and Birth Date.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/study_record.h"

namespace vexel {

struct PatientRecord {
    std::string name;                                   // (0010,0010) as UTF-8, empty when absent
    std::string birthDate;                              // (0010,0030), empty when absent
    std::vector<std::unique_ptr<StudyRecord>> studies;  // display order (StudyBefore)

    // A file matches on the exact name and, when the file has a birth date, the same date;
    // a file without one joins any patient of that name.
    bool Matches(const std::string& fileName, const std::string& fileBirthDate) const;
};

// Display order: name ignoring letter case, then the exact name, then birth date. A patient
// is unique by name and birth date, so the order is total.
bool PatientBefore(const PatientRecord& a, const PatientRecord& b);

}  // namespace vexel
