// The RLE decoder on arbitrary frames: any header, any segment data.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/rle_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    // The first two bytes choose the frame size and the segment count the image expects.
    const size_t pixels = 1 + (size_t(data[0]) << 4);
    const uint32_t segments = 1 + data[1] % 15;
    std::vector<uint8_t> planes;
    vexel::DecodeRlePlanes({data + 2, size - 2}, pixels, segments, planes);
    return 0;
}
