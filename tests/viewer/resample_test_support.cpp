#include "resample_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "common/byte_builder.h"

namespace vexel::test {

OpenedImage OpenMarkerImage(const std::string& name, int width, int height,
                            const std::vector<Marker>& markers, uint16_t value,
                            const std::vector<Marker>& overlay) {
    HandImage wanted;
    wanted.columns = uint16_t(width);
    wanted.rows = uint16_t(height);
    wanted.modality = "OT";
    wanted.pixels.assign(size_t(width) * size_t(height), 0);
    for (const Marker& m : markers)
        wanted.pixels[size_t(m.y) * size_t(width) + size_t(m.x)] = value;
    if (!overlay.empty()) {
        std::string bits((size_t(width) * size_t(height) + 7) / 8, '\0');
        for (const Marker& m : overlay) {
            const size_t bit = size_t(m.y) * size_t(width) + size_t(m.x);
            bits[bit / 8] = char(uint8_t(bits[bit / 8]) | 1u << (bit % 8));
        }
        wanted.extra = {{0x60000010, "US", ByteBuilder::LittleU16(uint16_t(height))},
                        {0x60000011, "US", ByteBuilder::LittleU16(uint16_t(width))},
                        {0x60003000, "OB", bits}};
    }
    return OpenHandImage(wanted, "resample-" + name);
}

CGuardedBitmap::CGuardedBitmap(int width, int height, int guard)
    : m_width(width),
      m_height(height),
      m_guard(guard),
      m_stride(width + 2 * guard),
      m_pixels(size_t(m_stride) * size_t(height + 2 * guard), kSentinel) {}

DestinationBitmap CGuardedBitmap::View() {
    DestinationBitmap view;
    view.pixels = m_pixels.data() + size_t(m_guard) * size_t(m_stride) + size_t(m_guard);
    view.width = m_width;
    view.height = m_height;
    view.stride = size_t(m_stride);
    return view;
}

uint32_t CGuardedBitmap::At(int x, int y) const {
    return m_pixels[size_t(y + m_guard) * size_t(m_stride) + size_t(x + m_guard)];
}

bool CGuardedBitmap::GuardIntact() const {
    for (int y = -m_guard; y < m_height + m_guard; ++y) {
        for (int x = -m_guard; x < m_width + m_guard; ++x) {
            const bool inside = x >= 0 && y >= 0 && x < m_width && y < m_height;
            if (!inside && At(x, y) != kSentinel) return false;
        }
    }
    return true;
}

CGuardedBitmap RenderGreyChecked(CDicomFrame* frame, const ViewGeometry& g, const CDisplayLUT& lut,
                                 uint32_t threads) {
    CResampler resampler(threads);
    resampler.SetGeometry(g);
    CGuardedBitmap bitmap(g.visibleDestWidth, g.visibleDestHeight);
    if (!resampler.RenderGrey(frame, bitmap.View(), &lut) || !bitmap.GuardIntact()) {
        ADD_FAILURE() << "the render failed or wrote outside the bitmap";
        return CGuardedBitmap(0, 0);
    }
    return bitmap;
}

double ReferenceBilinear(const LevelImage& image, const ViewGeometry& g, int i, int j) {
    const double sx =
        std::clamp((i + 0.5) / g.zoom + g.visibleSourceX - 0.5, 0.0, double(image.width - 1));
    const double sy =
        std::clamp((j + 0.5) / g.zoom + g.visibleSourceY - 0.5, 0.0, double(image.height - 1));
    const int x0 = int(sx), y0 = int(sy);
    const int x1 = std::min(x0 + 1, image.width - 1), y1 = std::min(y0 + 1, image.height - 1);
    const double fx = sx - x0, fy = sy - y0;
    const double top = image.At(x0, y0) * (1 - fx) + image.At(x1, y0) * fx;
    const double bottom = image.At(x0, y1) * (1 - fx) + image.At(x1, y1) * fx;
    return top * (1 - fy) + bottom * fy;
}

// Length of each pixel of [0, size) inside [low, high); the nearest pixel alone when none is.
namespace {
std::vector<double> Coverage(double low, double high, int size) {
    std::vector<double> cover(size_t(size), 0.0);
    bool any = false;
    for (int k = 0; k < size; ++k) {
        cover[size_t(k)] = std::max(0.0, std::min(high, k + 1.0) - std::max(low, double(k)));
        any = any || cover[size_t(k)] > 0;
    }
    if (!any) cover[size_t(std::clamp(int(std::floor(low)), 0, size - 1))] = 1;
    return cover;
}
}  // namespace

double ReferenceAreaAverage(const LevelImage& image, const ViewGeometry& g, int i, int j) {
    const double z = g.zoom;
    const auto columns =
        Coverage(g.visibleSourceX + i / z, g.visibleSourceX + (i + 1) / z, image.width);
    const auto rows =
        Coverage(g.visibleSourceY + j / z, g.visibleSourceY + (j + 1) / z, image.height);
    double sum = 0, area = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const double weight = columns[size_t(x)] * rows[size_t(y)];
            sum += weight * image.At(x, y);
            area += weight;
        }
    }
    return sum / area;
}

ViewGeometry MakeView(int imageWidth, int imageHeight, int viewportWidth, int viewportHeight,
                      uint32_t rotation, bool horizontalMirror, bool verticalMirror, float zoom,
                      int anchorX, int anchorY) {
    ViewGeometry g;
    g.rotation = rotation;
    g.horizontalMirror = horizontalMirror;
    g.verticalMirror = verticalMirror;
    SetImageSize(g, imageWidth, imageHeight);
    SetViewportSize(g, viewportWidth, viewportHeight);
    LayoutFit(g);
    if (zoom > 0) {
        const ViewGeometry start = g;
        LayoutZoomAbout(g, start, zoom, anchorX, anchorY);
    }
    return g;
}

}  // namespace vexel::test
