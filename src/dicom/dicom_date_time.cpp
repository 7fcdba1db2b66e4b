#include "dicom/dicom_date_time.h"

#include <algorithm>
#include <charconv>
#include <string>

namespace vexel {
namespace {

bool Digits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int32_t Number(std::string_view digits) {
    int32_t value = 0;
    for (char c : digits)
        value = value * 10 + (c - '0');
    return value;
}

int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

std::string_view TrimDicomPadding(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\0'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.remove_suffix(1);
    return text;
}

std::optional<CalendarDate> ParseDicomDate(std::string_view text) {
    text = TrimDicomPadding(text);
    std::string digits;
    if (text.size() == 10 && text[4] == '.' && text[7] == '.') {
        digits = std::string(text.substr(0, 4)) + std::string(text.substr(5, 2)) +
                 std::string(text.substr(8, 2));
    } else {
        digits = std::string(text);
    }
    if (digits.size() != 8 || !Digits(digits)) return std::nullopt;
    CalendarDate date{Number(digits.substr(0, 4)), Number(digits.substr(4, 2)),
                      Number(digits.substr(6, 2))};
    static constexpr int32_t kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (date.month < 1 || date.month > 12 || date.day < 1 || date.day > kDays[date.month - 1])
        return std::nullopt;
    return date;
}

std::optional<ClockTime> ParseDicomTime(std::string_view text) {
    text = TrimDicomPadding(text);
    const size_t point = std::min(text.find('.'), text.size());
    std::string digits;
    for (char ch : text.substr(0, point)) {
        if (ch != ':') digits += ch;
    }
    if ((digits.size() != 2 && digits.size() != 4 && digits.size() != 6) || !Digits(digits))
        return std::nullopt;
    ClockTime time{Number(digits.substr(0, 2)),
                   digits.size() >= 4 ? Number(digits.substr(2, 2)) : 0,
                   digits.size() >= 6 ? Number(digits.substr(4, 2)) : 0};
    if (time.hour > 23 || time.minute > 59 || time.second > 60) return std::nullopt;
    if (point < text.size()) {
        const std::string fraction = "0" + std::string(text.substr(point));
        const auto [end, error] =
            std::from_chars(fraction.data(), fraction.data() + fraction.size(), time.fraction);
        if (error != std::errc() || end != fraction.data() + fraction.size()) return std::nullopt;
    }
    return time;
}

std::optional<double> DicomInstant(std::string_view date, std::string_view time) {
    const std::optional<CalendarDate> day = ParseDicomDate(date);
    const std::optional<ClockTime> clock = ParseDicomTime(time);
    if (!day || !clock) return std::nullopt;
    return double(DaysFromCivil(day->year, day->month, day->day)) * 86400 + clock->hour * 3600.0 +
           clock->minute * 60.0 + clock->second + clock->fraction;
}

std::optional<double> DicomInstant(std::string_view datetime) {
    datetime = TrimDicomPadding(datetime);
    const size_t offset = datetime.find_first_of("+-", 8);
    if (offset != std::string_view::npos) datetime = datetime.substr(0, offset);
    if (datetime.size() < 10) return std::nullopt;
    return DicomInstant(datetime.substr(0, 8), datetime.substr(8));
}

}  // namespace vexel
