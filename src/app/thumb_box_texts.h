// The texts of the thumbnail box's rows: trimmed names, DICOM dates and times in the
// user's locale, the study header's series count and the series rows' tooltips.
#pragma once

#include <QLocale>
#include <QString>
#include <string>

namespace vexel {

// Names and descriptions: trailing spaces and '^' removed, each remaining '^' a space.
QString TrimmedName(const std::string& value);
// The trimmed value, or "unnamed" when that is empty.
QString TrimmedOrUnnamed(const std::string& value);

// A DA value (YYYYMMDD; the old YYYY.MM.DD too) in the locale's short date format. Empty
// for an absent value; a value that is no date is shown as stored.
QString FormatDicomDate(const std::string& date, const QLocale& locale = QLocale());
// The date followed by the TM value (HH, HHMM or HHMMSS with an optional fraction; the old
// HH:MM:SS too) in the locale's short time format; either part may be absent.
QString FormatDicomDateTime(const std::string& date, const std::string& time,
                            const QLocale& locale = QLocale());

// "%s: %d series" filled with the modality and the count.
QString StudySeriesLine(const std::string& modality, size_t seriesCount);

// One line for each present value, then the hint about Ctrl.
QString SeriesTooltip(const QString& patientName, const QString& studyDescription,
                      const QString& seriesDescription, const QString& seriesDateTime);

}  // namespace vexel
