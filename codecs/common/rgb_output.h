// Interleaved 8-bit RGB output shared by the codec modules (header only, no link dependency).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace vexel::codec {

inline uint8_t ClampToByte(double value) {
    if (value <= 0) return 0;
    if (value >= 255) return 255;
    return static_cast<uint8_t>(value);
}

inline uint8_t ClampToByte(int32_t value) {
    if (value <= 0) return 0;
    if (value >= 255) return 255;
    return static_cast<uint8_t>(value);
}

// Full-range YCbCr (DICOM YBR_FULL, PS3.3 C.7.6.3.1.2) to RGB; ties round to even, the
// rounding mode DCMTK, GDCM and pydicom agree on.
inline void YbrToRgb(int32_t y, int32_t cb, int32_t cr, uint8_t* rgb) {
    const double cbOffset = cb - 128;
    const double crOffset = cr - 128;
    rgb[0] = ClampToByte(std::nearbyint(y + 1.402 * crOffset));
    rgb[1] = ClampToByte(std::nearbyint(y - 0.344136 * cbOffset - 0.714136 * crOffset));
    rgb[2] = ClampToByte(std::nearbyint(y + 1.772 * cbOffset));
}

// Writes `pixels` RGB triplets. fetch(pixel, component) returns a sample already made
// unsigned; samples are shifted down by `shift` to 8 bits before any colour conversion.
template <typename Fetch>
void WriteRgb(uint8_t* output, size_t pixels, int shift, bool fromYbr, Fetch&& fetch) {
    for (size_t i = 0; i < pixels; ++i, output += 3) {
        const int32_t c0 = static_cast<int32_t>(fetch(i, 0)) >> shift;
        const int32_t c1 = static_cast<int32_t>(fetch(i, 1)) >> shift;
        const int32_t c2 = static_cast<int32_t>(fetch(i, 2)) >> shift;
        if (fromYbr) {
            YbrToRgb(c0, c1, c2, output);
        } else {
            output[0] = ClampToByte(c0);
            output[1] = ClampToByte(c1);
            output[2] = ClampToByte(c2);
        }
    }
}

}  // namespace vexel::codec
