// The fused overlay of a base image: the colours of another series' frame (PET on CT), placed
// by patient geometry and blended, half transparent, over the base image's own grey picture.
//
// Placement is exact for any orientation: the centre of every base pixel is taken to the
// patient through the base's Image Position and Orientation and both pixel spacings, and from
// there into the overlay's pixel coordinates through the overlay's own; the overlay value there
// comes from its four nearest pixels. So a feet-first, prone or sagittal study, anisotropic
// pixels or different fields of view all line up, and zoom, pan, rotation and mirroring apply
// to the fused picture afterwards as they do to any image.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "volume/plane_geometry.h"

namespace vexel {

// 65,536 ARGB colours from transparent through blue, green and yellow to red, over the overlay
// window.
class CFusionColourTable {
public:
    static constexpr uint32_t kEntries = 65536;

    CFusionColourTable();
    uint32_t Entry(uint32_t index) const { return m_table[index]; }
    // The colour of a value in the window [low, high]: transparent at or below low, for an
    // empty window and for anything not finite.
    uint32_t Colour(double value, double low, double high) const;

private:
    std::vector<uint32_t> m_table;
};

// Where a base pixel's centre falls in the overlay's pixel coordinates (centres at whole
// numbers): overlay = origin + column x perColumn + row x perRow.
struct OverlayMapping {
    std::array<double, 2> origin{};
    std::array<double, 2> perColumn{};
    std::array<double, 2> perRow{};
};
// Nothing when either plane lacks a spacing or the overlay's axes are not independent.
std::optional<OverlayMapping> MapBaseToOverlay(const PlaneGeometry& base,
                                               const PlaneGeometry& overlay);

// The overlay's values (after its rescale), rows x columns.
struct OverlayValues {
    const float* values = nullptr;
    uint32_t columns = 0;
    uint32_t rows = 0;
};

// Blends the overlay's colours over `picture` (0x00RRGGBB, the base's columns x rows), each
// weighted by its alpha, in rows [firstRow, endRow) (so threads can share a picture). Base
// pixels whose centre falls outside the overlay keep their grey.
void BlendOverlay(const OverlayMapping& mapping, const OverlayValues& overlay, double low,
                  double high, const CFusionColourTable& table, uint32_t* picture, uint32_t columns,
                  uint32_t rows, uint32_t firstRow = 0, uint32_t endRow = UINT32_MAX);

}  // namespace vexel
