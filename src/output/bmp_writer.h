// Writes a rendered viewer surface as a Windows bitmap file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexel {

// pixels: 0x00RRGGBB words, rows top-down, stride pixels apart. Writes a 24-bit uncompressed
// BMP (bottom-up rows padded to 4 bytes, 2835 pixels per metre). Width and height must be 1 to
// 65535 and the file under 4 GiB. False on any failure; a file cut short is removed.
bool WriteBmp(const std::string& path, const uint32_t* pixels, int32_t width, int32_t height,
              size_t stride);

}  // namespace vexel
