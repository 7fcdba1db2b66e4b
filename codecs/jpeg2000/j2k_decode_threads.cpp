#include "j2k_decode_threads.h"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace vexel::codec {
namespace {

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// SOC, then SIZ: Lsiz, Rsiz, Xsiz, Ysiz, XOsiz, YOsiz.
uint64_t CodestreamArea(const uint8_t* data, uint64_t size) {
    if (size < 24 || data[0] != 0xFF || data[1] != 0x4F || data[2] != 0xFF || data[3] != 0x51)
        return 0;
    const uint32_t x = BigEndian32(data + 8), y = BigEndian32(data + 12);
    const uint32_t x0 = BigEndian32(data + 16), y0 = BigEndian32(data + 20);
    if (x <= x0 || y <= y0) return 0;
    return uint64_t{x - x0} * (y - y0);
}

// Top-level JP2 boxes (ISO/IEC 15444-1 I.4) up to the contiguous codestream box "jp2c".
uint64_t Jp2Area(const uint8_t* data, uint64_t size) {
    uint64_t position = 0;
    while (size - position >= 8) {
        const uint8_t* box = data + position;
        uint64_t length = BigEndian32(box);
        uint64_t header = 8;
        if (length == 1) {  // the length follows as 64 bits
            if (size - position < 16) return 0;
            length = (uint64_t{BigEndian32(box + 8)} << 32) | BigEndian32(box + 12);
            header = 16;
        } else if (length == 0) {  // the box runs to the end
            length = size - position;
        }
        if (length < header || length > size - position) return 0;
        if (BigEndian32(box + 4) == 0x6A703263)  // "jp2c"
            return CodestreamArea(box + header, length - header);
        position += length;
    }
    return 0;
}

uint32_t UsableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<uint32_t>(CPU_COUNT(&set));
    return std::thread::hardware_concurrency();
}

}  // namespace

uint64_t ImageAreaFromHeader(const uint8_t* data, uint64_t size) {
    if (data == nullptr) return 0;
    const uint64_t area = CodestreamArea(data, size);
    return area != 0 ? area : Jp2Area(data, size);
}

uint32_t DecodeThreadsFor(const uint8_t* data, uint64_t size) {
    if (ImageAreaFromHeader(data, size) < kThreadedDecodePixels) return 0;
    static const uint32_t processors = std::min(UsableProcessors(), kMaxDecodeThreads);
    return processors > 1 ? processors : 0;
}

}  // namespace vexel::codec
