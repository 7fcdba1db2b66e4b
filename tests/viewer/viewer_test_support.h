// Helpers of the viewer tests: small hand-built files with known pixels and phantom series;
// a viewport on a recording window; bitmaps with a guard border, plain reference filters over
// grey levels and view geometries for the resampler tests; and the linear VOI function of
// PS3.3 C.11.2.1.2.1 for an 8-bit output, written out plainly in long double, as the
// reference for the display look-up tables.
#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dicom/dicom_file.h"
#include "imaging/dicom_image.h"
#include "viewer/display_lut.h"
#include "viewer/resampler.h"
#include "viewer/series_state_store.h"
#include "viewer/view_geometry.h"
#include "viewer/viewport_2d.h"
#include "viewer/window_preset.h"

namespace vexel::test {

// One greyscale file: rows x columns of 16-bit stored values (two's complement when signed).
struct HandImage {
    std::vector<int32_t> pixels;  // row by row
    uint16_t rows = 1;
    uint16_t columns = 1;
    bool isSigned = false;
    std::string photometric = "MONOCHROME2";
    std::string modality = "CT";
    std::string windowCenter;  // DS text; empty: the element is left out
    std::string windowWidth;
    std::string rescaleSlope;
    std::string rescaleIntercept;
    int frames = 1;  // the pixels repeat in every frame
    // More elements, in ascending tag order; none may share a tag with the elements above
    // or fall between (0028,0100) and (0028,1053).
    struct Extra {
        uint32_t tag;
        std::string vr;
        std::string value;
    };
    std::vector<Extra> extra = {};
};

// A parsed file with its image attached; keeps the file alive.
struct OpenedImage {
    std::unique_ptr<CDicomFile> file = std::make_unique<CDicomFile>();
    CDicomImage* image = nullptr;
};

OpenedImage OpenHandImage(const HandImage& wanted, const std::string& name);
OpenedImage OpenFile(const std::filesystem::path& path);

// Small phantom series (4 slices of 64 x 64, CT and PET over the same patient and study),
// written once per test run; files in name order.
const std::vector<std::filesystem::path>& PhantomCtSeries();
const std::vector<std::filesystem::path>& PhantomPetSeries();

// Stored values of a greyscale frame as the frame decodes them.
std::vector<int32_t> StoredValues(CDicomImage& image, size_t frame);

class CRecordingWindow final : public IViewportWindow {
public:
    void PresentSurface(const CViewportSurface&, const PixelRect* rect) override {
        wholePresents += rect == nullptr;
    }
    int wholePresents = 0;
};

// Opens every file of a series (kept alive by the returned objects).
std::vector<OpenedImage> OpenSeries(const std::vector<std::filesystem::path>& files);

// A viewport on screen (a recording window) of the given client size, with a clock the test
// moves by hand.
struct ViewportRig {
    explicit ViewportRig(int32_t clientWidth = 212, int32_t clientHeight = 200,
                         uint32_t threads = 2) {
        ViewportServices services;
        services.states = &states;
        services.presets = &presets;
        services.resamplerThreads = threads;
        services.clock = [this] { return now; };
        viewport = std::make_unique<CViewport2D>(services);
        viewport->Create(window);
        viewport->SizeChanged(clientWidth, clientHeight);
    }

    void Advance(std::chrono::milliseconds step) { now += step; }
    // Adds without a file reference: the test keeps the files open.
    bool Add(const OpenedImage& opened, uint32_t generation = 0) {
        return viewport->AddImage(CFileRef(), *opened.image, generation);
    }

    CSeriesStateStore states;
    CWindowPresetTable presets;
    CRecordingWindow window;
    std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
    std::unique_ptr<CViewport2D> viewport;
};

struct Marker {
    int x, y;
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
    CGuardedBitmap(int width, int height, int guard = 3)
        : m_width(width),
          m_height(height),
          m_guard(guard),
          m_stride(width + 2 * guard),
          m_pixels(size_t(m_stride) * size_t(height + 2 * guard), kSentinel) {}
    DestinationBitmap View() {
        return {m_pixels.data() + size_t(m_guard) * size_t(m_stride) + size_t(m_guard), m_width,
                m_height, size_t(m_stride)};
    }
    uint32_t At(int x, int y) const {
        return m_pixels[size_t(y + m_guard) * size_t(m_stride) + size_t(x + m_guard)];
    }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // True when every pixel outside the view still holds the sentinel.
    bool GuardIntact() const {
        for (int y = -m_guard; y < m_height + m_guard; ++y)
            for (int x = -m_guard; x < m_width + m_guard; ++x)
                if ((x < 0 || y < 0 || x >= m_width || y >= m_height) && At(x, y) != kSentinel)
                    return false;
        return true;
    }

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

struct ExpectedLevel {
    int level = 0;
    // The exact output lies within a hair of a half step: rounding may go either way.
    bool ambiguous = false;
};

// ymin 0, ymax 255, rounded half up; inverted afterwards when `invert`.
inline ExpectedLevel LinearVoi(int64_t value, float centre, float width, bool invert) {
    const long double x = value, c = centre, w = width;
    ExpectedLevel expected;
    if (x <= c - 0.5L - (w - 1) / 2) {
        expected.level = 0;
    } else if (x > c - 0.5L + (w - 1) / 2) {
        expected.level = 255;
    } else {
        const long double y = ((x - (c - 0.5L)) / (w - 1) + 0.5L) * (255 - 0) + 0;
        const long double rounded = std::floor(y + 0.5L);
        expected.ambiguous = std::fabs(y + 0.5L - std::round(y + 0.5L)) < 1e-6L;
        expected.level = int(std::fmin(255.0L, std::fmax(0.0L, rounded)));
    }
    if (invert) expected.level = 255 - expected.level;
    return expected;
}

}  // namespace vexel::test
