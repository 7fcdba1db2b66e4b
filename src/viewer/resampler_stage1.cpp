#include "viewer/resampler_stage1.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace vexel {
namespace {

constexpr int32_t kTableOffset = 65536;
constexpr int32_t kLastEntry = 131071;
constexpr uint32_t kOverlayColour = 0x00FFFFC0u;  // light yellow

// Modality value to table index without floating point for the common rescales.
struct OffsetIndex {
    int32_t offset;
    uint32_t operator()(int32_t stored) const { return uint32_t(stored + offset); }
};

struct RescaledIndex {
    float slope;
    float intercept;
    uint32_t operator()(int32_t stored) const {
        const float value = float(stored) * slope + intercept;
        const double shifted = double(value) + 65536.5;
        if (!(shifted >= 0)) return 0;  // NaN too
        if (shifted >= kLastEntry) return kLastEntry;
        return uint32_t(shifted);
    }
};

// The sizes are copied out first: a store through a byte pointer may alias them, and the
// compiler would read them again for every pixel.
template <typename Word, typename Index, typename Pixel>
void MapGrey(const ResampleSource& source, Placement place, const uint8_t* table, Index index,
             Pixel* out) {
    const auto* words = reinterpret_cast<const uint16_t*>(source.samples);
    const int64_t width = source.width, height = source.height, stepX = place.stepX;
    const auto pixel = [&](uint16_t word) {
        const uint8_t level = table[index(int32_t(Word(word)))];
        if constexpr (sizeof(Pixel) == 1)
            return level;
        else
            return uint32_t(level) * 0x010101u;
    };
    for (int64_t y = 0; y < height; ++y) {
        const uint16_t* row = words + y * width;
        Pixel* target = out + place.origin + y * place.stepY;
        if (stepX == 1) {
            for (int64_t x = 0; x < width; ++x)
                target[x] = pixel(row[x]);
        } else {
            for (int64_t x = 0; x < width; ++x, target += stepX)
                *target = pixel(row[x]);
        }
    }
}

template <typename Word, typename Pixel>
void MapGreyWord(const ResampleSource& source, Placement place, const uint8_t* table, Pixel* out) {
    if (source.slope == 1.0f && source.intercept == 0.0f) {
        MapGrey<Word>(source, place, table, OffsetIndex{kTableOffset}, out);
    } else if (source.slope == 1.0f && source.intercept == -1024.0f) {
        MapGrey<Word>(source, place, table, OffsetIndex{kTableOffset - 1024}, out);
    } else {
        MapGrey<Word>(source, place, table, RescaledIndex{source.slope, source.intercept}, out);
    }
}

template <typename Pixel>
void MapGreyAny(const ResampleSource& source, Placement place, const uint8_t* table, Pixel* out) {
    if (source.isSigned) {
        MapGreyWord<int16_t>(source, place, table, out);
    } else {
        MapGreyWord<uint16_t>(source, place, table, out);
    }
}

void MapColour(const ResampleSource& source, Placement place, const uint8_t* table, uint32_t* out) {
    const uint8_t* levels = table + kTableOffset;
    for (int64_t y = 0; y < source.height; ++y) {
        const uint8_t* rgb = source.samples + y * source.width * 3;
        uint32_t* target = out + place.origin + y * place.stepY;
        for (int64_t x = 0; x < source.width; ++x, rgb += 3, target += place.stepX) {
            *target = uint32_t(levels[rgb[0]]) << 16 | uint32_t(levels[rgb[1]]) << 8 |
                      uint32_t(levels[rgb[2]]);
        }
    }
}

// Paints `colour` wherever the plane has a bit, moved by `shift` pixels right and down.
void PaintPlane(const ResampleSource& source, Placement place, int64_t shift, uint32_t colour,
                uint32_t* out) {
    for (int64_t y = 0; y + shift < source.height; ++y) {
        for (int64_t x = 0; x + shift < source.width; ++x) {
            const uint64_t bit = uint64_t(y) * uint64_t(source.width) + uint64_t(x);
            if ((source.overlayBits[bit >> 3] >> (bit & 7)) & 1) {
                const int64_t tx = x + shift, ty = y + shift;
                out[place.origin + tx * place.stepX + ty * place.stepY] = colour;
            }
        }
    }
}

bool SourceIsComplete(const ResampleSource& source) {
    if (source.samples == nullptr || source.width <= 0 || source.height <= 0) return false;
    const uint64_t pixels = uint64_t(source.width) * uint64_t(source.height);
    return source.size / (source.colour ? 3 : 2) >= pixels;
}

bool Reserve(IntermediateImage& out, size_t bytes) {
    if (out.bytes && out.capacity >= bytes) return true;
    out.bytes.reset();
    out.capacity = 0;
    out.bytes.reset(static_cast<uint8_t*>(CheckedAlloc(bytes)));
    if (!out.bytes) return false;
    out.capacity = bytes;
    return true;
}

}  // namespace

Placement PlacementOf(uint32_t orientation, int64_t w, int64_t h) {
    switch (orientation) {
        case 1:
            return {h - 1, h, -1};
        case 2:
            return {w * h - 1, -1, -w};
        case 3:
            return {(w - 1) * h, -h, 1};
        case 4:
            return {w - 1, -1, w};
        case 5:
            return {w * h - 1, -h, -1};
        case 6:
            return {(h - 1) * w, 1, -w};
        case 7:
            return {0, h, 1};
        default:
            return {0, 1, w};
    }
}

bool BuildIntermediate(const ResampleSource& source, uint32_t orientation, const uint8_t* byteTable,
                       bool fourChannels, IntermediateImage& out) {
    out.width = out.height = out.channels = 0;
    if (byteTable == nullptr || !SourceIsComplete(source)) return false;
    const bool blend = source.blend && !source.colour;
    const int32_t channels = source.colour || fourChannels || blend ? 4 : 1;
    const size_t pixels = size_t(source.width) * size_t(source.height);
    if (!Reserve(out, pixels * size_t(channels))) return false;
    const bool turned = orientation % 2 == 1;
    out.width = turned ? source.height : source.width;
    out.height = turned ? source.width : source.height;
    out.channels = channels;
    const Placement place = PlacementOf(orientation % 8, source.width, source.height);
    if (channels == 1) {
        MapGreyAny(source, place, byteTable, out.bytes.get());
        return true;
    }
    auto* words = reinterpret_cast<uint32_t*>(out.bytes.get());
    if (source.colour) {
        MapColour(source, place, byteTable, words);
    } else if (blend) {
        // In the frame's own layout, where the blend places things, then turned as asked.
        std::vector<uint32_t> picture(pixels);
        MapGreyAny(source, PlacementOf(0, source.width, source.height), byteTable, picture.data());
        const RowRunner serial = [](uint32_t rows,
                                    const std::function<void(uint32_t, uint32_t)>& work) {
            work(0, rows);
        };
        const RowRunner& runRows = source.runRows ? source.runRows : serial;
        source.blend(picture.data(), runRows);
        runRows(uint32_t(source.height), [&](uint32_t first, uint32_t end) {
            for (int64_t y = first; y < int64_t(end); ++y)
                for (int64_t x = 0; x < source.width; ++x)
                    words[place.origin + x * place.stepX + y * place.stepY] =
                        picture[size_t(y * source.width + x)];
        });
    } else {
        MapGreyAny(source, place, byteTable, words);
    }
    if (source.overlayBits != nullptr && source.overlayColumns == uint32_t(source.width) &&
        source.overlayRows == uint32_t(source.height)) {
        PaintPlane(source, place, 1, 0, words);
        PaintPlane(source, place, 0, kOverlayColour, words);
    }
    return true;
}

}  // namespace vexel
