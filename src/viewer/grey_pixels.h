// Rendered greyscale images keep one byte per pixel in the cine cache instead of four: a
// quarter of the memory, and a quarter of the fresh pages to fault in while the first loop
// fills the cache.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexel {

// Packs 0x00GGGGGG pixels into bytes; false when a pixel is not grey (the bytes are then of
// no use).
bool PackGrey(const uint32_t* pixels, uint8_t* grey, size_t count);
void ExpandGrey(const uint8_t* grey, uint32_t* pixels, size_t count);

}  // namespace vexel
