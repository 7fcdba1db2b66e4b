// One row of the thumbnail box: a patient header, a study header or a series.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "engine/series_record.h"
#include "viewer/thumbnail.h"

namespace vexel {

enum class ThumbRowKind : uint32_t { Patient = 0, Study = 1, Series = 2 };

struct ThumbEntry {
    static constexpr uint32_t kPatientHeight = 53;
    static constexpr uint32_t kStudyHeight = 53;
    static constexpr uint32_t kSeriesHeight = 120;

    ThumbRowKind kind = ThumbRowKind::Series;
    // Patient header.
    QString patientName;
    QString birthDate;
    // Study header.
    QString studyDescription;
    QString studyDateTime;
    QString modality;
    size_t seriesCount = 0;
    QString seriesLine;  // "%s: %d series" filled
    // Series row: the row is found by its id, which the model never gives twice.
    SeriesId series = 0;
    QString seriesDescription;
    uint32_t imageCount = 0;
    QString tooltip;
    std::optional<Thumbnail> thumbnail;  // none until the first image is drawn
};

}  // namespace vexel
