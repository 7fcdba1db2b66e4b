#include "viewer/thumbnail.h"

#include <algorithm>

#include "imaging/dicom_image.h"
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
// viewport allocates and clears its display tables (640 KiB), which cost more than drawing
// a thumbnail. It holds no image between thumbnails, and its store only ever receives the
// computed windows of the images it showed, which any viewport would compute alike.
class CThumbnailRenderer {
public:
    CThumbnailRenderer() : m_viewport(Services(m_states)) {}

    std::optional<Thumbnail> Render(CDicomImage& image, ThumbnailDimensions size) {
        if (!m_viewport.CreateOffscreen(size.width, size.height, ViewGeometry{}))
            return std::nullopt;
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
        // Nothing may point at the image once it is handed back.
        m_viewport.Clear(false);
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
