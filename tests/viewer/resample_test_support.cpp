#include "resample_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <span>

#include "common/test_paths.h"
#include "phantom/dicom_file_writer.h"

namespace vexel::test {
namespace {

constexpr uint32_t Tag(uint16_t group, uint16_t element) {
    return uint32_t(group) << 16 | element;
}

phantom::CDataSetWriter Header(const std::string& photometric, int width, int height) {
    phantom::CDataSetWriter writer;
    writer.AddString(Tag(0x0008, 0x0016), "UI", "1.2.840.10008.5.1.4.1.1.7");
    writer.AddString(Tag(0x0008, 0x0018), "UI", "2.25.1234.5");
    writer.AddString(Tag(0x0008, 0x0060), "CS", "OT");
    writer.AddUS(Tag(0x0028, 0x0002), 1);
    writer.AddString(Tag(0x0028, 0x0004), "CS", photometric);
    writer.AddUS(Tag(0x0028, 0x0010), uint16_t(height));
    writer.AddUS(Tag(0x0028, 0x0011), uint16_t(width));
    return writer;
}

void SampleBits(phantom::CDataSetWriter& writer, uint16_t bits) {
    writer.AddUS(Tag(0x0028, 0x0100), bits);
    writer.AddUS(Tag(0x0028, 0x0101), bits);
    writer.AddUS(Tag(0x0028, 0x0102), uint16_t(bits - 1));
    writer.AddUS(Tag(0x0028, 0x0103), 0);
}

OpenedImage WriteAndOpen(const std::string& name, const phantom::CDataSetWriter& writer) {
    const auto path = ScratchDir("resample-" + name) / "image.dcm";
    phantom::FileMeta meta;
    meta.sopClassUid = "1.2.840.10008.5.1.4.1.1.7";
    meta.sopInstanceUid = "2.25.1234.5";
    std::string error;
    EXPECT_TRUE(phantom::WriteDicomFile(path, meta, writer, &error)) << error;
    return OpenFile(path);
}

std::span<const uint8_t> BytesOf(const std::vector<uint16_t>& words) {
    return {reinterpret_cast<const uint8_t*>(words.data()), words.size() * 2};
}

}  // namespace

OpenedImage OpenMarkerImage(const std::string& name, int width, int height,
                            const std::vector<Marker>& markers, uint16_t value,
                            const std::vector<Marker>& overlay) {
    phantom::CDataSetWriter writer = Header("MONOCHROME2", width, height);
    SampleBits(writer, 16);
    if (!overlay.empty()) {
        writer.AddUS(Tag(0x6000, 0x0010), uint16_t(height));
        writer.AddUS(Tag(0x6000, 0x0011), uint16_t(width));
        std::vector<uint8_t> bits((size_t(width) * size_t(height) + 7) / 8, 0);
        for (const Marker& m : overlay) {
            const size_t bit = size_t(m.y) * size_t(width) + size_t(m.x);
            bits[bit / 8] = uint8_t(bits[bit / 8] | 1u << (bit % 8));
        }
        writer.AddRaw(Tag(0x6000, 0x3000), "OB", bits);
    }
    std::vector<uint16_t> pixels(size_t(width) * size_t(height), 0);
    for (const Marker& m : markers)
        pixels[size_t(m.y) * size_t(width) + size_t(m.x)] = value;
    writer.AddRaw(Tag(0x7FE0, 0x0010), "OW", BytesOf(pixels));
    return WriteAndOpen(name, writer);
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

bool CGuardedBitmap::Untouched() const {
    for (int y = 0; y < m_height; ++y)
        for (int x = 0; x < m_width; ++x)
            if (At(x, y) != kSentinel) return false;
    return true;
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
static std::vector<double> Coverage(double low, double high, int size) {
    std::vector<double> cover(size_t(size), 0.0);
    bool any = false;
    for (int k = 0; k < size; ++k) {
        cover[size_t(k)] = std::max(0.0, std::min(high, k + 1.0) - std::max(low, double(k)));
        any = any || cover[size_t(k)] > 0;
    }
    if (!any) cover[size_t(std::clamp(int(std::floor(low)), 0, size - 1))] = 1;
    return cover;
}

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
