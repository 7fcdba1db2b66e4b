#include "colour_output.h"

#include <algorithm>

namespace vexel {

namespace {

// jdcolor.c: 16-bit fixed point, rounded, centred on 128.
constexpr int kScaleBits = 16;
constexpr int32_t kHalf = 1 << (kScaleBits - 1);
constexpr int32_t Fix(double x) {
    return static_cast<int32_t>(x * (1 << kScaleBits) + 0.5);
}

inline uint8_t Clamp(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

void ConvertPixel(int y, int cb, int cr, uint8_t* out) {
    const int32_t b = cb - 128;
    const int32_t r = cr - 128;
    out[0] = Clamp(y + ((Fix(1.40200) * r + kHalf) >> kScaleBits));
    out[1] = Clamp(y + ((-Fix(0.34414) * b + kHalf - Fix(0.71414) * r) >> kScaleBits));
    out[2] = Clamp(y + ((Fix(1.77200) * b + kHalf) >> kScaleBits));
}

}  // namespace

void WriteInterleavedRgb(const uint16_t* planes, size_t pixelCount, uint32_t precision,
                         bool fromYcbcr, uint8_t* output) {
    const int shift = precision > 8 ? static_cast<int>(precision) - 8 : 0;
    const uint16_t* c0 = planes;
    const uint16_t* c1 = planes + pixelCount;
    const uint16_t* c2 = planes + 2 * pixelCount;
    for (size_t i = 0; i < pixelCount; ++i) {
        const int a = (c0[i] >> shift) & 0xFF;
        const int b = (c1[i] >> shift) & 0xFF;
        const int c = (c2[i] >> shift) & 0xFF;
        uint8_t* out = output + 3 * i;
        if (fromYcbcr) {
            ConvertPixel(a, b, c, out);
        } else {
            out[0] = static_cast<uint8_t>(a);
            out[1] = static_cast<uint8_t>(b);
            out[2] = static_cast<uint8_t>(c);
        }
    }
}

}  // namespace vexel
