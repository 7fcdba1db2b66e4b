// Native colour layouts to interleaved 8-bit RGB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "imaging/pixel_format.h"

namespace vexel {

// Three planes (R..., G..., B...) of pixels bytes each to interleaved triplets.
void InterleavePlanes(const uint8_t* planes, size_t pixels, uint8_t* out);

// PS3.3 C.7.6.3.1.2 YBR_FULL: R = Y + 1.402 (Cr - 128), G = Y - 0.344136 (Cb - 128)
// - 0.714136 (Cr - 128), B = Y + 1.772 (Cb - 128), rounded half to even and clipped.
void YbrFullToRgb(std::span<uint8_t> triplets);
// YBR_PARTIAL (ITU-R BT.601 studio range: Y 16-235, Cb and Cr 16-240).
void YbrPartialToRgb(std::span<uint8_t> triplets);

// 4:2:2 data (Y1 Y2 Cb Cr for each pair of pixels of a row) to full Y Cb Cr triplets.
bool ExpandYbr422(std::span<const uint8_t> source, uint32_t columns, uint32_t rows,
                  uint8_t* out);

// Converts native colour bytes of one frame (as laid out in the file) into interleaved
// 8-bit RGB of columns x rows pixels. Handles planar data, 16-bit samples, YBR_FULL,
// YBR_FULL_422 and YBR_PARTIAL_422/420.
DecodeStatus NativeColourToRgb(std::span<const uint8_t> source, const PixelFormat& format,
                               bool ybr422, bool bigEndian, uint32_t columns, uint32_t rows,
                               uint8_t* out);

}  // namespace vexel
