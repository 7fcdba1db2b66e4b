#include "engine/study_record.h"

#include <tuple>

namespace vexel {

bool StudyBefore(const StudyRecord& a, const StudyRecord& b) {
    // Dates and times descending: b's on the left.
    return std::tie(b.studyDate, b.studyTime, a.studyInstanceUid, a.firstPath) <
           std::tie(a.studyDate, a.studyTime, b.studyInstanceUid, b.firstPath);
}

}  // namespace vexel
