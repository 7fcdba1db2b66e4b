#include "imaging/rle_decoder.h"

#include <algorithm>
#include <cstring>

namespace vexel {
namespace {

constexpr size_t kHeaderSize = 64;
constexpr uint32_t kMaxSegments = 15;

uint32_t LoadLittle32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// PackBits into out; a short segment leaves the rest of the plane zero.
void UnpackSegment(std::span<const uint8_t> in, uint8_t* out, size_t size) {
    size_t i = 0;
    size_t o = 0;
    while (i < in.size() && o < size) {
        const auto control = static_cast<int8_t>(in[i++]);
        if (control >= 0) {
            const size_t count = std::min<size_t>({size_t(control) + 1, in.size() - i, size - o});
            std::memcpy(out + o, in.data() + i, count);
            i += size_t(control) + 1;
            o += count;
        } else if (control != -128) {
            if (i >= in.size()) break;
            const size_t count = std::min<size_t>(size_t(1 - control), size - o);
            std::memset(out + o, in[i++], count);
            o += count;
        }
    }
}

}  // namespace

DecodeStatus DecodeRlePlanes(std::span<const uint8_t> frame, size_t pixels,
                             uint32_t expectedSegments, std::vector<uint8_t>& planes) {
    if (frame.size() < kHeaderSize) return DecodeStatus::Corrupt;
    const uint32_t segments = LoadLittle32(frame.data());
    if (segments == 0 || segments > kMaxSegments) return DecodeStatus::Corrupt;
    if (segments != expectedSegments) return DecodeStatus::SizeMismatch;
    uint32_t offsets[kMaxSegments + 1];
    for (uint32_t s = 0; s < segments; ++s) {
        offsets[s] = LoadLittle32(frame.data() + 4 + 4 * s);
        if (offsets[s] < kHeaderSize || offsets[s] > frame.size()) return DecodeStatus::Corrupt;
        if (s > 0 && offsets[s] < offsets[s - 1]) return DecodeStatus::Corrupt;
    }
    offsets[segments] = static_cast<uint32_t>(std::min<size_t>(frame.size(), UINT32_MAX));
    planes.assign(pixels * segments, 0);
    for (uint32_t s = 0; s < segments; ++s) {
        UnpackSegment(frame.subspan(offsets[s], offsets[s + 1] - offsets[s]),
                      planes.data() + pixels * s, pixels);
    }
    return DecodeStatus::Ok;
}

}  // namespace vexel
