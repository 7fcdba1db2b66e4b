#include "volume/fusion_overlay.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/volume_geometry.h"

namespace vexel {
namespace {

struct ColourStop {
    double position;
    uint32_t argb;
};

// Transparent at the window's low end, then blue, green, yellow and red, more opaque towards
// the top.
constexpr ColourStop kStops[] = {
    {0, 0x00000000},    {0.25, 0x800019FF}, {0.35, 0x80007DFF},
    {0.4, 0x8023C80A},  {0.45, 0x800FEB0A}, {0.6, 0x80F0F000},
    {0.66, 0x80FFFF00}, {0.85, 0xC0DC5000}, {1.0, 0xC0FF0000},
};

// grey x (1 - alpha) + colour x alpha per channel, red and blue side by side in one word;
// (t + t / 256 + 128) / 256 divides by 255 with rounding.
uint32_t Mix(uint32_t grey, uint32_t colour) {
    const uint32_t alpha = colour >> 24, rest = 255 - alpha;
    uint32_t rb = (grey & 0xFF00FF) * rest + (colour & 0xFF00FF) * alpha + 0x800080;
    uint32_t g = (grey & 0x00FF00) * rest + (colour & 0x00FF00) * alpha + 0x008000;
    rb = ((rb + ((rb >> 8) & 0xFF00FF)) >> 8) & 0xFF00FF;
    g = ((g + ((g >> 8) & 0x00FF00)) >> 8) & 0x00FF00;
    return rb | g;
}

// Where one coordinate falls between the overlay's pixel centres along one axis.
struct AxisPlace {
    uint32_t first;  // the pixel at or before it
    uint32_t step;   // to the next pixel: 0 at the last
    float fraction;
};

struct OverlayBlend {
    const OverlayValues& overlay;
    float lowF, highF, scale;
    uint32_t top;
    const CFusionColourTable& table;
    float maxU, maxV;

    bool Inside(float u, float v) const {
        // Within half a pixel of the overlay's outer pixel centres: its edge pixels extend.
        return u >= -0.5f && v >= -0.5f && u <= maxU + 0.5f && v <= maxV + 0.5f;
    }
    AxisPlace Column(float u) const {
        const float x = std::clamp(u, 0.f, maxU);
        const auto x0 = uint32_t(x);
        return {x0, x0 + 1 < overlay.columns ? 1u : 0u, x - float(x0)};
    }
    AxisPlace Row(float v) const {
        const float y = std::clamp(v, 0.f, maxV);
        const auto y0 = uint32_t(y);
        return {y0, y0 + 1 < overlay.rows ? overlay.columns : 0u, y - float(y0)};
    }
    // The bilinear value at a place inside, its colour blended into *out.
    void Blend(const AxisPlace& x, const AxisPlace& y, uint32_t* out) const {
        const float fx = x.fraction, fy = y.fraction;
        const size_t dx = x.step, dy = y.step;
        const float* p = overlay.values + size_t(y.first) * overlay.columns + x.first;
        const float value = (1 - fy) * ((1 - fx) * p[0] + fx * p[dx]) +
                            fy * ((1 - fx) * p[dy] + fx * p[dy + dx]);
        if (!(value > lowF)) return;  // transparent, and never a table index from NaN
        const uint32_t colour =
            value >= highF ? top : table.Entry(uint32_t((value - lowF) * scale + 0.5f));
        if ((colour >> 24) != 0) *out = Mix(*out, colour);
    }
};

}  // namespace

CFusionColourTable::CFusionColourTable() : m_table(kEntries, 0) {
    for (size_t s = 0; s + 1 < std::size(kStops); ++s) {
        const auto first = size_t(std::lround(kStops[s].position * kEntries));
        const auto end =
            std::min<size_t>(size_t(std::lround(kStops[s + 1].position * kEntries)), kEntries);
        const double n = double(end - first) - 1;
        for (size_t e = first; e < end; ++e) {
            uint32_t colour = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                const double c1 = (kStops[s].argb >> shift) & 0xFF;
                const double c2 = (kStops[s + 1].argb >> shift) & 0xFF;
                uint32_t c =
                    uint32_t(std::lround(n > 0 ? c1 + (c2 - c1) * double(e - first) / n : c1));
                if (shift == 24) c &= 0xF0;  // alpha in steps of 16
                colour |= c << shift;
            }
            m_table[e] = colour;
        }
    }
}

uint32_t CFusionColourTable::Colour(double value, double low, double high) const {
    if (!std::isfinite(value) || !std::isfinite(low) || !std::isfinite(high) || !(low < high))
        return 0;
    if (value >= high) return m_table[kEntries - 1];
    if (value <= low) return m_table[0];
    const double index = (value - low) * (kEntries - 1) / (high - low) + 0.5;
    return m_table[std::min<size_t>(size_t(index), kEntries - 1)];
}

std::optional<OverlayMapping> MapBaseToOverlay(const PlaneGeometry& base,
                                               const PlaneGeometry& overlay) {
    if (!(base.rowSpacing > 0) || !(base.columnSpacing > 0) || !(overlay.rowSpacing > 0) ||
        !(overlay.columnSpacing > 0))
        return std::nullopt;
    const Vector3 offset = {base.position[0] - overlay.position[0],
                            base.position[1] - overlay.position[1],
                            base.position[2] - overlay.position[2]};
    OverlayMapping m;
    m.origin = {Dot(offset, overlay.row) / overlay.columnSpacing,
                Dot(offset, overlay.column) / overlay.rowSpacing};
    m.perColumn = {base.columnSpacing * Dot(base.row, overlay.row) / overlay.columnSpacing,
                   base.columnSpacing * Dot(base.row, overlay.column) / overlay.rowSpacing};
    m.perRow = {base.rowSpacing * Dot(base.column, overlay.row) / overlay.columnSpacing,
                base.rowSpacing * Dot(base.column, overlay.column) / overlay.rowSpacing};
    const double determinant = m.perColumn[0] * m.perRow[1] - m.perColumn[1] * m.perRow[0];
    if (!std::isfinite(determinant) || std::fabs(determinant) < 1e-9) return std::nullopt;
    return m;
}

void BlendOverlay(const OverlayMapping& m, const OverlayValues& overlay, double low, double high,
                  const CFusionColourTable& table, uint32_t* picture, uint32_t columns,
                  uint32_t rows, uint32_t firstRow, uint32_t endRow) {
    if (overlay.values == nullptr || overlay.columns == 0 || overlay.rows == 0 ||
        !std::isfinite(low) || !std::isfinite(high) || !(low < high))
        return;
    const OverlayBlend blend{overlay,
                             float(low),
                             float(high),
                             float(double(CFusionColourTable::kEntries - 1) / (high - low)),
                             table.Entry(CFusionColourTable::kEntries - 1),
                             table,
                             float(overlay.columns) - 1,
                             float(overlay.rows) - 1};
    endRow = std::min(rows, endRow);
    if (m.perRow[0] == 0 && m.perColumn[1] == 0) {
        // Rows along the overlay's rows (parallel planes, the usual case): u depends on the
        // column alone and v on the row alone, so each is placed once, to the same values.
        std::vector<AxisPlace> places;
        uint32_t firstColumn = columns;
        for (uint32_t c = 0; c < columns; ++c) {
            const auto u = float(m.origin[0] + c * m.perColumn[0]);
            if (!blend.Inside(u, 0)) continue;
            if (places.empty()) firstColumn = c;
            else if (c != firstColumn + places.size()) break;  // u runs one way: one stretch
            places.push_back(blend.Column(u));
        }
        for (uint32_t r = firstRow; r < endRow && !places.empty(); ++r) {
            const auto v = float(m.origin[1] + r * m.perRow[1]);
            if (!blend.Inside(0, v)) continue;
            const AxisPlace y = blend.Row(v);
            uint32_t* out = picture + size_t(r) * columns + firstColumn;
            for (size_t c = 0; c < places.size(); ++c)
                blend.Blend(places[c], y, out + c);
        }
        return;
    }
    for (uint32_t r = firstRow; r < endRow; ++r) {
        const double u0 = m.origin[0] + r * m.perRow[0], v0 = m.origin[1] + r * m.perRow[1];
        uint32_t* out = picture + size_t(r) * columns;
        for (uint32_t c = 0; c < columns; ++c) {
            const auto u = float(u0 + c * m.perColumn[0]), v = float(v0 + c * m.perColumn[1]);
            if (blend.Inside(u, v)) blend.Blend(blend.Column(u), blend.Row(v), out + c);
        }
    }
}

}  // namespace vexel
