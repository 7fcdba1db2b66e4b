// Entropy-coded bits of one JPEG scan: byte stuffing removed, never reads outside the
// input. At a marker or the end of the data it supplies zero bits and counts them, so a
// scan that needed more data than it had is detected after the fact (Truncated()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vexel {

class CJpegBitReader {
public:
    CJpegBitReader(const uint8_t* data, size_t size, size_t position)
        : m_data(data), m_end(data + size), m_pos(data + position) {}

    // At least 32 bits are buffered afterwards: one Huffman code and its extra bits.
    inline void Fill() {
        if (m_count < 32) Refill();
    }
    inline uint32_t Peek(int bits) const { return static_cast<uint32_t>(m_bits >> (64 - bits)); }
    inline void Skip(int bits) {
        m_bits <<= bits;
        m_count -= bits;
    }
    // True when the decoder consumed bits that the data did not have.
    bool Truncated() const { return m_count < m_padding; }
    // A code the Huffman table does not have; checked once per row.
    void MarkBadCode() { m_badCode = true; }
    bool Failed() const { return m_badCode || m_count < m_padding; }
    // Drops the buffered bits; continues at the first unread byte (a marker, usually).
    void Reset() {
        m_bits = 0;
        m_count = 0;
        m_padding = 0;
        m_atMarker = false;
        m_badCode = false;
    }
    size_t Position() const { return static_cast<size_t>(m_pos - m_data); }
    void SetPosition(size_t position) {
        Reset();
        m_pos = m_data + position;
    }

private:
    static bool HasFFByte(uint64_t v) {
        const uint64_t x = ~v;
        return ((x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL) != 0;
    }

    void Refill() {
        if (!m_atMarker && m_end - m_pos >= 8) {
            uint64_t v;
            std::memcpy(&v, m_pos, 8);
            v = __builtin_bswap64(v);
            if (!HasFFByte(v)) {
                const int bytes = (63 - m_count) >> 3;
                v &= ~0ULL << (64 - bytes * 8);
                m_bits |= v >> m_count;
                m_count += bytes * 8;
                m_pos += bytes;
                return;
            }
        }
        RefillBytes();
    }

    void RefillBytes() {
        while (m_count <= 56) {
            uint64_t byte = 0;
            if (!m_atMarker && m_pos < m_end) {
                if (*m_pos != 0xFF) {
                    byte = *m_pos++;
                } else if (m_end - m_pos >= 2 && m_pos[1] == 0x00) {
                    byte = 0xFF;  // stuffed zero after FF
                    m_pos += 2;
                } else {
                    m_atMarker = true;  // leave the marker for the caller
                }
            } else {
                m_atMarker = true;
            }
            if (m_atMarker) m_padding += 8;
            m_bits |= byte << (56 - m_count);
            m_count += 8;
        }
    }

    const uint8_t* m_data;
    const uint8_t* m_end;
    const uint8_t* m_pos;
    uint64_t m_bits = 0;
    int m_count = 0;
    int m_padding = 0;
    bool m_atMarker = false;  // a marker or the end of the data: only zero bits follow
    bool m_badCode = false;
};

}  // namespace vexel
