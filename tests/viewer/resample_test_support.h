// Helpers of the resampler and view geometry tests: images with known pixels written as DICOM
// files, bitmaps with a guard border, and plain reference filters over grey levels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "viewer/display_lut.h"
#include "viewer/resampler.h"
#include "viewer/view_geometry.h"
#include "viewer_test_images.h"

namespace vexel::test {

struct Marker {
    int x;
    int y;
};

// Unsigned 16-bit MONOCHROME2, background 0, each marker one pixel of `value`; an overlay
// plane of the frame's size with the `overlay` bits set, when any are given.
OpenedImage OpenMarkerImage(const std::string& name, int width, int height,
                            const std::vector<Marker>& markers, uint16_t value,
                            const std::vector<Marker>& overlay = {});

// A destination with `guard` pixels of a sentinel on every side, to catch stray writes.
class CGuardedBitmap {
public:
    static constexpr uint32_t kSentinel = 0xA5A5A5A5u;
    CGuardedBitmap(int width, int height, int guard = 3);
    DestinationBitmap View();
    uint32_t At(int x, int y) const;
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // True when every pixel outside the view still holds the sentinel.
    bool GuardIntact() const;

private:
    int m_width, m_height, m_guard, m_stride;
    std::vector<uint32_t> m_pixels;
};

// The frame through lut at view g, rendered by a resampler of `threads` threads into a guarded
// bitmap of the visible size; empty (with a test failure) when the render fails or strays.
CGuardedBitmap RenderGreyChecked(CDicomFrame* frame, const ViewGeometry& g, const CDisplayLUT& lut,
                                 uint32_t threads = 2);

// Grey levels of the rotated image, row by row (rotation 0: the frame itself).
struct LevelImage {
    int width = 0;
    int height = 0;
    std::vector<double> levels;
    double At(int x, int y) const { return levels[size_t(y) * size_t(width) + size_t(x)]; }
};

// Bilinear between pixel centres: destination pixel (i, j) of the visible part samples
// ((i + 0.5) / zoom + source x - 0.5, ...), clamped to the image.
double ReferenceBilinear(const LevelImage& image, const ViewGeometry& g, int i, int j);
// Area average over the square the destination pixel covers, clipped to the image.
double ReferenceAreaAverage(const LevelImage& image, const ViewGeometry& g, int i, int j);

// Geometry of a view: fit, then zoom about the anchor (zoom <= 0: fit only).
ViewGeometry MakeView(int imageWidth, int imageHeight, int viewportWidth, int viewportHeight,
                      uint32_t rotation, bool horizontalMirror, bool verticalMirror, float zoom,
                      int anchorX, int anchorY);

}  // namespace vexel::test
