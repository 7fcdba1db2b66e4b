#include "engine/patient_record.h"

#include <tuple>

#include "engine/study_model_text.h"

namespace vexel {

bool PatientRecord::Matches(const std::string& fileName, const std::string& fileBirthDate) const {
    return name == fileName && (fileBirthDate.empty() || birthDate == fileBirthDate);
}

bool PatientBefore(const PatientRecord& a, const PatientRecord& b) {
    const int folded = CompareIgnoringCase(a.name, b.name);
    if (folded != 0) return folded < 0;
    return std::tie(a.name, a.birthDate) < std::tie(b.name, b.birthDate);
}

}  // namespace vexel
