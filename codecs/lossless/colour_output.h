// Three decoded component planes to the modules' colour layout: interleaved 8-bit R, G, B.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexel {

// planes: three planes of pixelCount samples of `precision` bits; samples above 8 bits are
// shifted down to 8. With `fromYcbcr` the planes are Y, Cb, Cr (full range) and are
// converted with libjpeg's fixed-point arithmetic; otherwise copied as R, G, B.
void WriteInterleavedRgb(const uint16_t* planes, size_t pixelCount, uint32_t precision,
                         bool fromYcbcr, uint8_t* output);

}  // namespace vexel
