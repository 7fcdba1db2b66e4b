#include "engine/study_model_view.h"

#include <algorithm>

#include "engine/patient_record.h"

namespace vexel {

SeriesView ViewOf(const SeriesRecord& series) {
    SeriesView view;
    view.id = series.id;
    view.seriesNumber = series.seriesNumber;
    view.seriesInstanceUid = series.seriesInstanceUid;
    view.multiFrame = series.multiFrame;
    view.description = series.description;
    view.modality = series.modality;
    view.date = series.date;
    view.time = series.time;
    if (!series.files.empty()) view.firstPath = series.files.front().path;
    view.fileCount = static_cast<uint32_t>(series.files.size());
    view.frameTotal = series.frameTotal;
    view.duplicates = series.duplicates;
    return view;
}

StudyView ViewOf(const StudyRecord& study) {
    StudyView view;
    view.studyInstanceUid = study.studyInstanceUid;
    view.date = study.studyDate;
    view.time = study.studyTime;
    view.description = study.description;
    view.series.reserve(study.series.size());
    for (const auto& series : study.series) {
        view.series.push_back(ViewOf(*series));
        const std::string& modality = series->modality;
        if (std::find(view.modalities.begin(), view.modalities.end(), modality) ==
            view.modalities.end()) {
            view.modalities.push_back(modality);
        }
    }
    return view;
}

PatientView ViewOf(const PatientRecord& patient) {
    PatientView view;
    view.name = patient.name;
    view.birthDate = patient.birthDate;
    view.studies.reserve(patient.studies.size());
    for (const auto& study : patient.studies)
        view.studies.push_back(ViewOf(*study));
    return view;
}

}  // namespace vexel
