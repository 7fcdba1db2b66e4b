#include "viewer/thumbnail.h"

#include <algorithm>

#include "imaging/dicom_image.h"
#include "viewer/resampler.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_2d.h"
#include "viewer/window_preset.h"

namespace vexel {

std::optional<ThumbnailDimensions> ThumbnailSize(uint32_t columns, uint32_t rows) {
    if (columns == 0 || rows == 0) return std::nullopt;
    const auto scaled = [](uint32_t side, uint32_t longer) {
        return std::max<int32_t>(int32_t(uint64_t(side) * kThumbnailSide / longer), 1);
    };
    if (columns == rows) return ThumbnailDimensions{kThumbnailSide, kThumbnailSide};
    if (columns > rows) return ThumbnailDimensions{kThumbnailSide, scaled(rows, columns)};
    return ThumbnailDimensions{scaled(columns, rows), kThumbnailSide};
}

namespace {

// One off-screen viewport per thread, used for every thumbnail that thread draws: a new
// viewport allocates and clears its display tables (640 KiB) and a new surface and resampler,
// which cost several times the drawing of a thumbnail. Between thumbnails it holds no image,
// no cached samples and nothing in its store, so each thumbnail is drawn as by a new one.
class CThumbnailRenderer {
public:
    CThumbnailRenderer() : m_viewport(Services(m_states)) {}

    std::optional<Thumbnail> Render(CDicomImage& image, ThumbnailDimensions size) {
        // A new size makes a new surface and resampler; the same size keeps both, and the
        // cleared viewport fits the next frame afresh.
        if (size != m_size) {
            m_size = {};
            if (!m_viewport.CreateOffscreen(size.width, size.height, ViewGeometry{}))
                return std::nullopt;
            m_size = size;
        }
        std::optional<Thumbnail> thumbnail;
        if (m_viewport.AddImage(CFileRef(), image, 0) && m_viewport.RenderedImage()) {
            const CViewportSurface& surface = m_viewport.Surface();
            thumbnail.emplace();
            thumbnail->width = surface.Width();
            thumbnail->height = surface.Height();
            thumbnail->pixels.assign(
                surface.Pixels(),
                surface.Pixels() + size_t(surface.Width()) * size_t(surface.Height()));
        }
        // Nothing may point at the image once it is handed back, the resampler's cached
        // samples of its frame included.
        m_viewport.Clear(false);
        m_viewport.Resampler().ForgetStage1();
        m_states.Remove(image.Key(), StateRecord::kComputedWindow);
        return thumbnail;
    }

private:
    static ViewportServices Services(CSeriesStateStore& states) {
        // A thumbnail must not change or read what the user set for the series on screen.
        static const CWindowPresetTable presets;
        ViewportServices services;
        services.states = &states;
        services.presets = &presets;
        services.layerMask = 0;
        return services;
    }

    CSeriesStateStore m_states;  // before the viewport, which refers to it
    CViewport2D m_viewport;
    ThumbnailDimensions m_size;  // of the surface; 0 x 0 before the first
};

}  // namespace

std::optional<Thumbnail> RenderThumbnail(CDicomImage& image) {
    if (image.FrameCount() == 0 || image.Columns() <= 0 || image.Rows() <= 0) return std::nullopt;
    const auto size = ThumbnailSize(uint32_t(image.Columns()), uint32_t(image.Rows()));
    if (!size) return std::nullopt;
    thread_local CThumbnailRenderer renderer;
    return renderer.Render(image, *size);
}

}  // namespace vexel
