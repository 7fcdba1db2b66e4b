// RLE Lossless (PS3.5 Annex G): a 64-byte header of up to 15 segment offsets, each segment
// one byte plane coded with PackBits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "imaging/pixel_format.h"

namespace vexel {

// Decodes the frame into byte planes of `pixels` bytes each, most significant byte of each
// sample first (plane order of the standard). Fails when the header announces more than 15
// segments or a number other than expectedSegments, or an offset lies outside the data.
DecodeStatus DecodeRlePlanes(std::span<const uint8_t> frame, size_t pixels,
                             uint32_t expectedSegments, std::vector<uint8_t>& planes);

}  // namespace vexel
