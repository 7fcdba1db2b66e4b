// Stage 1 of the resampler: every pixel of a frame through the display look-up into an 8-bit
// intermediate image laid out as the view shows it (rotated and mirrored), with the overlay
// plane drawn in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/checked_alloc.h"

namespace vexel {

// The samples of one frame as the resampler reads them.
// Calls work(first, end) over row bands of [0, rows), perhaps on several threads at once, and
// returns when all are done.
using RowRunner =
    std::function<void(uint32_t rows, const std::function<void(uint32_t, uint32_t)>& work)>;

struct ResampleSource {
    const uint8_t* samples = nullptr;  // rows x columns 16-bit words, or R, G, B bytes
    size_t size = 0;                   // bytes readable at samples
    int32_t width = 0;
    int32_t height = 0;
    bool colour = false;
    bool isSigned = false;
    float slope = 1;
    float intercept = 0;
    const uint8_t* overlayBits = nullptr;  // packed, row order, least significant bit first
    uint32_t overlayColumns = 0;
    uint32_t overlayRows = 0;
    // Grey sources only: called with the frame's 0x00RRGGBB picture in its own layout (width x
    // height, before rotation and mirroring) to draw over it, as fusion does; it may share the
    // rows out with `RowRunner`.
    std::function<void(uint32_t* picture, const RowRunner& runRows)> blend;
    RowRunner runRows;  // empty: the calling thread does all rows
};

// One byte per pixel (grey) or four (blue, green, red, 0: a 0x00RRGGBB word), rows of
// `width` pixels in the rotated layout.
struct IntermediateImage {
    CheckedPtr<uint8_t> bytes;
    size_t capacity = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;
};

// Where source pixel (x, y) lands: origin + x * stepX + y * stepY.
struct Placement {
    int64_t origin;
    int64_t stepX;
    int64_t stepY;
};
Placement PlacementOf(uint32_t orientation, int64_t width, int64_t height);

// Fills `out` from the source through `byteTable` (entry i: grey level of modality value
// i - 65,536). Four channels for colour sources or when `fourChannels`; the overlay plane is
// drawn only with four channels and only when its size is the frame's. False, with `out`
// unusable, when the source is short of its size or memory is refused.
bool BuildIntermediate(const ResampleSource& source, uint32_t orientation, const uint8_t* byteTable,
                       bool fourChannels, IntermediateImage& out);

}  // namespace vexel
