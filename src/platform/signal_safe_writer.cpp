#include "platform/signal_safe_writer.h"

#include <unistd.h>

#include <cerrno>

namespace vexel {
namespace {

struct CivilDate {
    int64_t year;
    unsigned month;  // 1..12
    unsigned day;    // 1..31
};

// Days since 1970-01-01 to a Gregorian date, counted in 400-year eras of 146097 days that
// start on 1 March, so the leap day falls at the end of an era's year.
CivilDate CivilFromDays(int64_t days) {
    days += 719468;  // from 1970-01-01 to 0000-03-01
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    const unsigned day = unsigned(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    const unsigned month = unsigned(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

}  // namespace

void CSignalSafeWriter::Text(std::string_view text) {
    for (const char c : text) {
        if (m_at == m_end) {
            m_overflowed = true;
            return;
        }
        *m_at++ = c;
    }
}

void CSignalSafeWriter::Digits(uint64_t value, unsigned base, int minimumWidth) {
    char digits[24];
    int count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value % base];
        value /= base;
    } while (value != 0);
    while (count < minimumWidth)
        digits[count++] = '0';
    char reversed[24];
    for (int i = 0; i < count; ++i)
        reversed[i] = digits[count - 1 - i];
    Text({reversed, size_t(count)});
}

void CSignalSafeWriter::Decimal(uint64_t value) {
    Digits(value, 10, 1);
}

void CSignalSafeWriter::Hex(uint64_t value) {
    Text("0x");
    Digits(value, 16, 1);
}

void CSignalSafeWriter::UtcTime(int64_t unixSeconds) {
    int64_t days = unixSeconds / 86400;
    int64_t seconds = unixSeconds % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    const CivilDate date = CivilFromDays(days);
    if (date.year < 0) {
        Text("-");
        Digits(uint64_t(-date.year), 10, 4);
    } else {
        Digits(uint64_t(date.year), 10, 4);
    }
    Text("-");
    Digits(date.month, 10, 2);
    Text("-");
    Digits(date.day, 10, 2);
    Text("T");
    Digits(uint64_t(seconds / 3600), 10, 2);
    Text(":");
    Digits(uint64_t(seconds / 60 % 60), 10, 2);
    Text(":");
    Digits(uint64_t(seconds % 60), 10, 2);
    Text("Z");
}

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        text.remove_prefix(size_t(written));
    }
    return true;
}

}  // namespace vexel
