// Positioned reads over a file (buffered, 64-bit offsets) or over bytes in memory (an
// inflated data set). Every read checks that the full count arrived.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vexel {

// pread until count bytes arrived; false at end of file or on an error.
bool ReadFully(int fd, uint8_t* dest, uint64_t count, uint64_t offset);

class CByteStream {
public:
    CByteStream() = default;
    ~CByteStream();
    CByteStream(const CByteStream&) = delete;
    CByteStream& operator=(const CByteStream&) = delete;

    bool OpenFile(const std::string& path);
    // Replaces the source with bytes in memory; positions then count from their start.
    void UseMemory(std::vector<uint8_t> bytes);
    int FileDescriptor() const { return m_fd; }
    // The status of the open file, taken when it was opened.
    const struct stat& FileStatus() const { return m_status; }

    uint64_t Size() const { return m_size; }
    uint64_t Position() const { return m_position; }
    uint64_t Remaining() const { return m_size - m_position; }

    bool Seek(uint64_t position);
    bool Skip(uint64_t count) { return count <= Remaining() && Seek(m_position + count); }
    bool Read(void* dest, uint64_t count);
    bool ReadU16(uint16_t& value) { return Read(&value, 2); }
    bool ReadU32(uint32_t& value) { return Read(&value, 4); }

private:
    bool Fill();

    int m_fd = -1;
    struct stat m_status{};
    uint64_t m_size = 0;
    uint64_t m_position = 0;
    // Buffer window: bytes [m_bufferStart, m_bufferStart + m_buffer.size()) of the source.
    std::vector<uint8_t> m_buffer;
    uint64_t m_bufferStart = 0;
    bool m_inMemory = false;
};

}  // namespace vexel
