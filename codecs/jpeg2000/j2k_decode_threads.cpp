#include "j2k_decode_threads.h"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace vexel::codec {
namespace {

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

struct Siz {
    uint64_t pixels = 0;
    uint64_t tiles = 0;
    uint64_t codestreamBytes = 0;
};

uint64_t CeilDiv(uint64_t a, uint64_t b) {
    return (a + b - 1) / b;
}

// SOC, then SIZ: Lsiz, Rsiz, Xsiz, Ysiz, XOsiz, YOsiz, XTsiz, YTsiz, XTOsiz, YTOsiz.
Siz CodestreamSiz(const uint8_t* data, uint64_t size) {
    if (size < 40 || data[0] != 0xFF || data[1] != 0x4F || data[2] != 0xFF || data[3] != 0x51)
        return {};
    const uint32_t x = BigEndian32(data + 8), y = BigEndian32(data + 12);
    const uint32_t x0 = BigEndian32(data + 16), y0 = BigEndian32(data + 20);
    const uint32_t tileWidth = BigEndian32(data + 24), tileHeight = BigEndian32(data + 28);
    const uint32_t tileX0 = BigEndian32(data + 32), tileY0 = BigEndian32(data + 36);
    if (x <= x0 || y <= y0 || tileWidth == 0 || tileHeight == 0 || tileX0 > x0 || tileY0 > y0)
        return {};
    return {uint64_t{x - x0} * (y - y0),
            CeilDiv(x - tileX0, tileWidth) * CeilDiv(y - tileY0, tileHeight), size};
}

// Top-level JP2 boxes (ISO/IEC 15444-1 I.4) up to the contiguous codestream box "jp2c".
Siz Jp2Siz(const uint8_t* data, uint64_t size) {
    uint64_t position = 0;
    while (size - position >= 8) {
        const uint8_t* box = data + position;
        uint64_t length = BigEndian32(box);
        uint64_t header = 8;
        if (length == 1) {  // the length follows as 64 bits
            if (size - position < 16) return {};
            length = (uint64_t{BigEndian32(box + 8)} << 32) | BigEndian32(box + 12);
            header = 16;
        } else if (length == 0) {  // the box runs to the end
            length = size - position;
        }
        if (length < header || length > size - position) return {};
        if (BigEndian32(box + 4) == 0x6A703263)  // "jp2c"
            return CodestreamSiz(box + header, length - header);
        position += length;
    }
    return {};
}

Siz ReadSiz(const uint8_t* data, uint64_t size) {
    if (data == nullptr) return {};
    const Siz siz = CodestreamSiz(data, size);
    return siz.pixels != 0 ? siz : Jp2Siz(data, size);
}

uint32_t UsableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<uint32_t>(CPU_COUNT(&set));
    return std::thread::hardware_concurrency();
}

}  // namespace

uint64_t ImageAreaFromHeader(const uint8_t* data, uint64_t size) {
    return ReadSiz(data, size).pixels;
}

bool HasRoomForEveryTile(const uint8_t* data, uint64_t size) {
    const Siz siz = ReadSiz(data, size);
    return siz.tiles <= siz.codestreamBytes / 14;  // unreadable: OpenJPEG says why
}

uint32_t DecodeThreadsFor(const uint8_t* data, uint64_t size) {
    if (ImageAreaFromHeader(data, size) < kThreadedDecodePixels) return 0;
    static const uint32_t processors = std::min(UsableProcessors(), kMaxDecodeThreads);
    return processors > 1 ? processors : 0;
}

}  // namespace vexel::codec
