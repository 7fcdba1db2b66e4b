#include "viewer/viewport_surface.h"

#include <algorithm>
#include <new>

namespace vexel {

PixelRect Intersect(const PixelRect& a, const PixelRect& b) {
    // 64-bit so that rectangles near the ends of the 32-bit range cannot overflow.
    const int64_t left = std::max<int64_t>(a.x, b.x);
    const int64_t top = std::max<int64_t>(a.y, b.y);
    const int64_t right = std::min<int64_t>(int64_t(a.x) + a.width, int64_t(b.x) + b.width);
    const int64_t bottom = std::min<int64_t>(int64_t(a.y) + a.height, int64_t(b.y) + b.height);
    if (right <= left || bottom <= top) return {};
    return {int32_t(left), int32_t(top), int32_t(right - left), int32_t(bottom - top)};
}

bool CViewportSurface::Resize(int32_t width, int32_t height) {
    return Allocate(width, height, true);
}

bool CViewportSurface::Reshape(int32_t width, int32_t height) {
    return Allocate(width, height, false);
}

bool CViewportSurface::Allocate(int32_t width, int32_t height, bool clear) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    const size_t count = size_t(width) * size_t(height);
    try {
        if (clear) {
            m_pixels.assign(count, 0);
        } else {
            m_pixels.resize(count);
        }
    } catch (const std::bad_alloc&) {
        m_pixels = {};
        m_width = m_height = 0;
        return false;
    }
    m_width = width;
    m_height = height;
    return true;
}

void CViewportSurface::Fill(const PixelRect& rect, uint32_t colour) {
    const PixelRect r = Intersect(rect, Bounds());
    for (int32_t y = r.y; y < r.y + r.height; ++y) {
        uint32_t* row = m_pixels.data() + size_t(y) * size_t(m_width);
        std::fill(row + r.x, row + r.x + r.width, colour);
    }
}

void CViewportSurface::Blit(const CViewportSurface& source, int32_t x, int32_t y,
                            const PixelRect& clip) {
    const PixelRect placed{x, y, source.m_width, source.m_height};
    const PixelRect r = Intersect(Intersect(placed, clip), Bounds());
    for (int32_t row = r.y; row < r.y + r.height; ++row) {
        const uint32_t* from =
            source.m_pixels.data() + size_t(row - y) * size_t(source.m_width) + (r.x - x);
        std::copy(from, from + r.width, m_pixels.data() + size_t(row) * size_t(m_width) + r.x);
    }
}

}  // namespace vexel
