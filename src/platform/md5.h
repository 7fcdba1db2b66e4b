// MD5 digests (RFC 1321) of decoded buffers, to compare with other toolkits' digests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vexel {

class CMd5 {
public:
    CMd5();
    void Update(const void* data, size_t size);
    std::array<uint8_t, 16> Finish();
    // Lower-case hex of the digest of data.
    static std::string Hex(const void* data, size_t size);

private:
    void Block(const uint8_t* block);

    uint32_t m_state[4];
    uint64_t m_length = 0;
    uint8_t m_buffer[64];
    size_t m_buffered = 0;
};

}  // namespace vexel
