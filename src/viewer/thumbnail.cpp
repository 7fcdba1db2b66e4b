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

std::optional<Thumbnail> RenderThumbnail(CDicomImage& image) {
    if (image.FrameCount() == 0 || image.Columns() <= 0 || image.Rows() <= 0) return std::nullopt;
    const auto size = ThumbnailSize(uint32_t(image.Columns()), uint32_t(image.Rows()));
    if (!size) return std::nullopt;

    // A thumbnail must not change or read what the user set for the series on screen.
    static const CWindowPresetTable presets;
    CSeriesStateStore states;
    ViewportServices services;
    services.states = &states;
    services.presets = &presets;
    services.layerMask = 0;
    CViewport2D viewport(services);
    if (!viewport.CreateOffscreen(size->width, size->height, ViewGeometry{})) return std::nullopt;
    if (!viewport.AddImage(CFileRef(), image, 0) || !viewport.RenderedImage()) return std::nullopt;

    const CViewportSurface& surface = viewport.Surface();
    Thumbnail thumbnail;
    thumbnail.width = surface.Width();
    thumbnail.height = surface.Height();
    thumbnail.pixels.assign(surface.Pixels(),
                            surface.Pixels() + size_t(surface.Width()) * size_t(surface.Height()));
    return thumbnail;
}

}  // namespace vexel
