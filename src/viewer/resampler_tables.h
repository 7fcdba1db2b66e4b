// The scaling tables of stage 2, one per axis. Destination pixel i (relative to the visible
// destination) has its centre at i + 0.5; it shows rotated-image point
// (i + 0.5) / zoom + visible source start, the mapping ScreenToImage uses. Each table lists,
// per destination pixel, the source pixels it reads and their weights (summing to 1).
#pragma once

#include <cstdint>
#include <vector>

namespace vexel {

enum class ScaleMethod : uint8_t { None, Enlarge, Reduce, Copy };

struct AxisTaps {
    // Taps of destination i: [first[i], first[i + 1]) of index and weight; Enlarge and Copy
    // tables have exactly tapsPerPixel taps each (2 and 1), Reduce tables vary.
    std::vector<uint32_t> first;
    std::vector<uint32_t> index;  // source pixel, within [0, source size)
    std::vector<float> weight;
    uint32_t tapsPerPixel = 0;  // 0 when it varies
    uint32_t lowest = 0;        // smallest and largest index used
    uint32_t highest = 0;
};

// zoom > 1: two taps, bilinear between the neighbouring pixel centres (clamped at the image's
// edges); zoom == 1: the pixel itself; zoom < 1: every pixel the destination pixel covers,
// weighted by the covered length. Empty when a size is not positive or the zoom is not.
AxisTaps BuildAxisTaps(ScaleMethod method, int32_t destSize, double zoom, int32_t sourceStart,
                       int32_t sourceSize);

ScaleMethod MethodForZoom(float zoom);

}  // namespace vexel
