// The file behind a parsed data set, open for reads of values left in it. It is opened and
// checked against the identity taken at parse time once; each later read from the
// descriptor checks the identity again (one fstat), so a file rewritten in place fails from
// then on. With a window, small reads are served from one read-ahead buffer: the values of a
// listing lie one after another and then cost one read per few KiB instead of one each.
#pragma once

#include <cstdint>
#include <string>

#include "dicom/file_identity.h"
#include "platform/checked_alloc.h"

namespace vexel {

class CHeldFile {
public:
    static constexpr size_t kWindowSize = 8 * 1024;

    explicit CHeldFile(bool windowed) : m_windowed(windowed) {}
    ~CHeldFile();
    CHeldFile(const CHeldFile&) = delete;
    CHeldFile& operator=(const CHeldFile&) = delete;

    // False when path cannot be opened or is no longer the file identity describes.
    bool Open(const std::string& path, const FileIdentity& identity);
    // Bytes [offset, offset + size) as the file holds them; false when they cannot be read
    // or the file changed since it was opened.
    bool Read(void* dest, uint64_t size, uint64_t offset);

private:
    bool ReadChecked(void* dest, uint64_t size, uint64_t offset);

    bool m_windowed;
    int m_fd = -1;
    bool m_changed = false;
    FileIdentity m_identity;
    CheckedPtr<uint8_t> m_window;  // bytes [m_windowStart, m_windowStart + m_windowLength)
    uint64_t m_windowStart = 0;
    uint64_t m_windowLength = 0;
};

}  // namespace vexel
