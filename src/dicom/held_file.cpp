#include "dicom/held_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dicom/byte_stream.h"

namespace vexel {
namespace {

bool SameFile(int fd, const FileIdentity& identity) {
    struct stat info {};
    return fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && FileIdentityOf(info) == identity;
}

}  // namespace

CHeldFile::~CHeldFile() {
    if (m_fd >= 0) close(m_fd);
}

bool CHeldFile::Open(const std::string& path, const FileIdentity& identity) {
    if (m_fd >= 0) return false;
    // Non-blocking: a FIFO put in the file's place must not hang the reader in open().
    m_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0) return false;
    m_identity = identity;
    m_changed = !SameFile(m_fd, identity);
    return !m_changed;
}

// Identity after the read: bytes that arrived while the file was being rewritten are refused.
bool CHeldFile::ReadChecked(void* dest, uint64_t size, uint64_t offset) {
    if (m_fd < 0 || m_changed) return false;
    if (!ReadFully(m_fd, static_cast<uint8_t*>(dest), size, offset)) return false;
    m_changed = !SameFile(m_fd, m_identity);
    return !m_changed;
}

bool CHeldFile::Read(void* dest, uint64_t size, uint64_t offset) {
    if (offset > m_identity.size || size > m_identity.size - offset) return false;
    if (offset >= m_windowStart && offset + size <= m_windowStart + m_windowLength) {
        std::memcpy(dest, m_window.get() + (offset - m_windowStart), size);
        return true;
    }
    if (!m_windowed || size > kWindowSize / 2) return ReadChecked(dest, size, offset);
    if (!m_window) m_window.reset(static_cast<uint8_t*>(CheckedAlloc(kWindowSize)));
    if (!m_window) return ReadChecked(dest, size, offset);
    const uint64_t length = std::min<uint64_t>(kWindowSize, m_identity.size - offset);
    m_windowLength = 0;
    if (!ReadChecked(m_window.get(), length, offset)) return false;
    m_windowStart = offset;
    m_windowLength = length;
    std::memcpy(dest, m_window.get(), size);
    return true;
}

}  // namespace vexel
