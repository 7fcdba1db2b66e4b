#include "viewer/grey_pixels.h"

namespace vexel {

// Blocks of 16 with a fixed inner count let the compiler use vector instructions.
constexpr size_t kBlock = 16;

bool PackGrey(const uint32_t* pixels, uint8_t* grey, size_t count) {
    uint32_t mismatch = 0;
    size_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        for (size_t k = 0; k < kBlock; ++k) {
            const uint32_t pixel = pixels[i + k];
            grey[i + k] = uint8_t(pixel);
            mismatch |= pixel ^ ((pixel & 0xFFu) * 0x010101u);
        }
    }
    for (; i < count; ++i) {
        grey[i] = uint8_t(pixels[i]);
        mismatch |= pixels[i] ^ ((pixels[i] & 0xFFu) * 0x010101u);
    }
    return mismatch == 0;
}

void ExpandGrey(const uint8_t* grey, uint32_t* pixels, size_t count) {
    size_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        for (size_t k = 0; k < kBlock; ++k) pixels[i + k] = uint32_t(grey[i + k]) * 0x010101u;
    }
    for (; i < count; ++i) pixels[i] = uint32_t(grey[i]) * 0x010101u;
}

}  // namespace vexel
