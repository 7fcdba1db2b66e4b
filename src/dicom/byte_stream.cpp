#include "dicom/byte_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vexel {
namespace {

// Large enough to hold the whole header of a typical image in one read.
constexpr size_t kBufferSize = 16 * 1024;
// The first window of a file ends at this boundary: most headers fit in the first page, and
// copying 16 KiB out of the page cache per file cost more than parsing the header.
constexpr uint64_t kFirstWindowEnd = 4096;

}  // namespace

CByteStream::~CByteStream() {
    if (m_fd >= 0) close(m_fd);
}

bool CByteStream::OpenFile(const std::string& path) {
    // Non-blocking, so that a FIFO or device named as a file is refused instead of waiting
    // for a writer; only regular files are read.
    m_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0) return false;
    if (fstat(m_fd, &m_status) != 0 || !S_ISREG(m_status.st_mode)) return false;
    m_size = static_cast<uint64_t>(m_status.st_size);
    m_position = 0;
    m_buffer.clear();
    return true;
}

void CByteStream::UseMemory(std::vector<uint8_t> bytes) {
    m_inMemory = true;
    m_buffer = std::move(bytes);
    m_bufferStart = 0;
    m_size = m_buffer.size();
    m_position = 0;
}

bool CByteStream::Seek(uint64_t position) {
    if (position > m_size) return false;
    m_position = position;
    return true;
}

bool CByteStream::Fill() {
    const bool first = m_buffer.capacity() == 0;
    const uint64_t window =
        first && m_position < kFirstWindowEnd ? kFirstWindowEnd - m_position : kBufferSize;
    const uint64_t want = std::min<uint64_t>(window, Remaining());
    m_buffer.resize(want);
    m_bufferStart = m_position;
    if (ReadFully(m_fd, m_buffer.data(), want, m_position)) return true;
    m_buffer.clear();
    return false;
}

bool CByteStream::Read(void* dest, uint64_t count) {
    if (count > Remaining()) return false;
    auto* out = static_cast<uint8_t*>(dest);
    const uint64_t end = m_bufferStart + m_buffer.size();
    if (m_position >= m_bufferStart && m_position + count <= end) {
        std::memcpy(out, m_buffer.data() + (m_position - m_bufferStart), count);
        m_position += count;
        return true;
    }
    if (m_inMemory) return false;
    if (count >= kBufferSize / 2) {
        // Large values go straight to their destination.
        if (!ReadFully(m_fd, out, count, m_position)) return false;
        m_position += count;
        return true;
    }
    if (!Fill()) return false;
    if (count > m_buffer.size()) {
        // Only the short first window can be smaller than a value below the direct-read size.
        if (!ReadFully(m_fd, out, count, m_position)) return false;
    } else {
        std::memcpy(out, m_buffer.data(), count);
    }
    m_position += count;
    return true;
}

bool ReadFully(int fd, uint8_t* dest, uint64_t count, uint64_t offset) {
    while (count > 0) {
        const ssize_t got = pread(fd, dest, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        dest += got;
        count -= static_cast<uint64_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return true;
}

}  // namespace vexel
