#include "imaging/sample_conversion.h"

#include <algorithm>
#include <cstring>

namespace vexel {
namespace {

uint32_t Load32(const uint8_t* p, bool bigEndian) {
    if (bigEndian) return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
    return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

}  // namespace

uint64_t StoredBytesFor(uint64_t samples, uint16_t bitsAllocated) {
    if (bitsAllocated == 1) return (samples + 7) / 8;
    if (bitsAllocated == 12) return (samples * 3 + 1) / 2;
    return samples * ((bitsAllocated + 7u) / 8u);
}

void NormaliseWords(std::span<uint16_t> words, const PixelFormat& format) {
    const unsigned stored = std::clamp<unsigned>(format.bitsStored, 1, 16);
    const unsigned high = std::min<unsigned>(format.highBit, 15);
    const unsigned shift = high + 1 >= stored ? high + 1 - stored : 0;
    const uint32_t mask = (1u << stored) - 1;
    if (shift == 0 && stored == 16) return;  // nothing to mask, and 16-bit words are signed as is
    const uint32_t signBit = 1u << (stored - 1);
    for (uint16_t& word : words) {
        uint32_t v = (uint32_t{word} >> shift) & mask;
        if (format.isSigned && (v & signBit)) v |= ~mask;
        word = static_cast<uint16_t>(v);
    }
}

bool UnpackGreyscale(std::span<const uint8_t> source, uint8_t bitOffset,
                     const PixelFormat& format, bool bigEndian, int wideShift,
                     std::span<uint16_t> out) {
    const size_t count = out.size();
    switch (format.bitsAllocated) {
        case 1: {
            if (uint64_t{bitOffset} + count > uint64_t{source.size()} * 8) return false;
            // PS3.5 8.1.1: the first pixel is in the least significant bit.
            for (size_t i = 0; i < count; ++i) {
                const size_t bit = bitOffset + i;
                out[i] = (source[bit >> 3] >> (bit & 7)) & 1u;
            }
            return true;
        }
        case 8:
            if (source.size() < count) return false;
            for (size_t i = 0; i < count; ++i) out[i] = source[i];
            break;
        case 12: {
            // Two samples in three bytes (ACR-NEMA packed data).
            if (source.size() < StoredBytesFor(count, 12)) return false;
            for (size_t i = 0; i < count; ++i) {
                const uint8_t* p = source.data() + (i / 2) * 3;
                out[i] = (i & 1) ? static_cast<uint16_t>((p[1] >> 4) | (p[2] << 4))
                                 : static_cast<uint16_t>(p[0] | ((p[1] & 0x0F) << 8));
            }
            break;
        }
        case 16:
            if (source.size() < count * 2) return false;
            std::memcpy(out.data(), source.data(), count * 2);
            if (bigEndian) {
                for (uint16_t& w : out) w = static_cast<uint16_t>((w >> 8) | (w << 8));
            }
            break;
        case 32: {
            if (source.size() < count * 4 || wideShift < 0) return false;
            for (size_t i = 0; i < count; ++i) {
                const uint32_t raw = Load32(source.data() + 4 * i, bigEndian);
                if (format.isSigned) {
                    const int64_t v = static_cast<int32_t>(raw) >> wideShift;
                    out[i] = static_cast<uint16_t>(std::clamp<int64_t>(v, -32768, 32767));
                } else {
                    out[i] = static_cast<uint16_t>(std::min<uint64_t>(raw >> wideShift, 65535));
                }
            }
            return true;  // already in 16-bit form
        }
        default:
            return false;
    }
    NormaliseWords(out, format);
    return true;
}

int WideSampleShift(std::span<const uint8_t> source, bool isSigned, bool bigEndian) {
    int shift = 0;
    for (size_t at = 0; at + 4 <= source.size(); at += 4) {
        const uint32_t raw = Load32(source.data() + at, bigEndian);
        if (isSigned) {
            int64_t v = static_cast<int32_t>(raw);
            while ((v >> shift) > 32767 || (v >> shift) < -32768) ++shift;
        } else {
            while ((raw >> shift) > 65535) ++shift;
        }
    }
    return shift;
}

}  // namespace vexel
