// PNG files of rendered bitmaps (vexel render, tests): 8-bit RGB, no interlace, one zlib
// stream. The bitmap is 32-bit pixels 0x00RRGGBB, rows top-down, as the viewport draws them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace vexel {

// The PNG bytes of a width x height bitmap whose rows are stride pixels apart; empty for an
// empty bitmap or a stride smaller than the width.
std::vector<uint8_t> EncodePng(const uint32_t* pixels, uint32_t width, uint32_t height,
                               size_t stride);

// Replaces the file atomically (platform/atomic_file.h).
bool WritePng(const std::filesystem::path& path, const uint32_t* pixels, uint32_t width,
              uint32_t height, size_t stride);

}  // namespace vexel
