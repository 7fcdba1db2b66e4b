// The 32-bit pixels a viewport draws into and copies to its window: 0x00RRGGBB words, rows
// top-down, no padding. Also used for the rendered image part.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "viewer/resampler.h"

namespace vexel {

struct PixelRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool Empty() const { return width <= 0 || height <= 0; }
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The common part of two rectangles; empty when they do not meet.
PixelRect Intersect(const PixelRect& a, const PixelRect& b);

class CViewportSurface {
public:
    // Re-creates the pixels cleared to 0. Negative sizes count as 0; false (and an empty
    // surface) when the memory is refused.
    bool Resize(int32_t width, int32_t height);
    // The same without clearing: for bitmaps that are overwritten whole.
    bool Reshape(int32_t width, int32_t height);
    void Clear() { Fill(Bounds(), 0); }
    void Fill(const PixelRect& rect, uint32_t colour);
    // Copies `source` with its top-left corner at (x, y), clipped to `clip` and to this surface.
    void Blit(const CViewportSurface& source, int32_t x, int32_t y, const PixelRect& clip);

    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    PixelRect Bounds() const { return {0, 0, m_width, m_height}; }
    uint32_t* Pixels() { return m_pixels.data(); }
    const uint32_t* Pixels() const { return m_pixels.data(); }
    uint32_t At(int32_t x, int32_t y) const { return m_pixels[size_t(y) * size_t(m_width) + x]; }
    DestinationBitmap Bitmap() { return {m_pixels.data(), m_width, m_height, size_t(m_width)}; }

private:
    bool Allocate(int32_t width, int32_t height, bool clear);

    std::vector<uint32_t> m_pixels;
    int32_t m_width = 0;
    int32_t m_height = 0;
};

}  // namespace vexel
