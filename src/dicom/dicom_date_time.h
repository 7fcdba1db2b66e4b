// DICOM dates and times (DA, TM, DT) as values: calendar fields for display, and instants in
// seconds for working out intervals that may span midnight or days.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vexel {

struct CalendarDate {
    int32_t year = 0;
    int32_t month = 0;
    int32_t day = 0;
};
struct ClockTime {
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
    double fraction = 0;  // of the second
};
// DA "YYYYMMDD" (also the old "YYYY.MM.DD"); nothing when it is not a real date.
// The text without the blanks and NULs that pad DICOM values.
std::string_view TrimDicomPadding(std::string_view text);
std::optional<CalendarDate> ParseDicomDate(std::string_view text);
// TM "HH", "HHMM", "HHMMSS.FFFFFF" (also with colons).
std::optional<ClockTime> ParseDicomTime(std::string_view text);

// Seconds since 1970-01-01 of a DA and a TM, or of a DT "YYYYMMDDHH[MM[SS[.F]]]" (a UTC offset
// is left out: both ends of an interval carry the same one). Nothing when either cannot be read.
std::optional<double> DicomInstant(std::string_view date, std::string_view time);
std::optional<double> DicomInstant(std::string_view datetime);

}  // namespace vexel
