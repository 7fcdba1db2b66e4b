// Text built inside a fatal-signal handler: into a caller's fixed buffer, without allocating,
// without locks and without the locale, so it is async-signal-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vexel {

class CSignalSafeWriter {
public:
    CSignalSafeWriter(char* buffer, size_t capacity)
        : m_begin(buffer), m_at(buffer), m_end(buffer + capacity) {}

    // Appends what fits; Overflowed() tells when something was cut.
    void Text(std::string_view text);
    void Decimal(uint64_t value);
    void Hex(uint64_t value);  // "0x" and lower-case digits
    // "%Y-%m-%dT%H:%M:%SZ" of seconds since 1970-01-01 UTC (proleptic Gregorian calendar).
    void UtcTime(int64_t unixSeconds);

    std::string_view View() const { return {m_begin, size_t(m_at - m_begin)}; }
    bool Overflowed() const { return m_overflowed; }

private:
    void Digits(uint64_t value, unsigned base, int minimumWidth);

    char* m_begin;
    char* m_at;
    char* m_end;
    bool m_overflowed = false;
};

// Writes all of text to fd, resuming after short writes and interruptions. Signal-safe.
bool WriteAll(int fd, std::string_view text);

}  // namespace vexel
