// Baseline JPEG files from interleaved 8-bit RGB through libjpeg-turbo (image export).
#pragma once

#include <cstdint>

namespace vexel {

// quality 1 to 100 (clamped); path in UTF-8. A failed write leaves no file behind.
int32_t CompressRgbToJpegFile(const uint8_t* rgb, int32_t width, int32_t height, int32_t quality,
                              const char* path);

}  // namespace vexel
