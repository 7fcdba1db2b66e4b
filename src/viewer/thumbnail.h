// Thumbnails of a series' first image: at most 90 x 90 pixels, the image's aspect kept, drawn
// by an off-screen viewport exactly as a viewport of that size would show the first frame.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace vexel {

class CDicomImage;

struct ThumbnailDimensions {
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const ThumbnailDimensions&, const ThumbnailDimensions&) = default;
};

struct Thumbnail {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB, rows top-down, no padding
};

inline constexpr int32_t kThumbnailSide = 90;

// The longer side becomes 90, the other is scaled and truncated (never below 1). Nothing
// for an image without rows or columns.
std::optional<ThumbnailDimensions> ThumbnailSize(uint32_t columns, uint32_t rows);

// The first frame with its default display settings through an off-screen viewport of the
// thumbnail's size, with a private state store and no layers. Nothing when the image has
// no frame or the frame cannot be drawn. Any thread; the image's frame is decoded if needed.
std::optional<Thumbnail> RenderThumbnail(CDicomImage& image);

}  // namespace vexel
