#include "imaging/colour_conversion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace vexel {
namespace {

uint8_t Clip(double v) { return static_cast<uint8_t>(std::clamp(std::nearbyint(v), 0.0, 255.0)); }

// Tables make the conversion one look-up per term; the values equal the formula's.
struct YbrTables {
    std::array<std::array<uint8_t, 256>, 256> red;    // [y][cr]
    std::array<std::array<uint8_t, 256>, 256> blue;   // [y][cb]
};

}  // namespace

void InterleavePlanes(const uint8_t* planes, size_t pixels, uint8_t* out) {
    const uint8_t* r = planes;
    const uint8_t* g = planes + pixels;
    const uint8_t* b = planes + 2 * pixels;
    for (size_t i = 0; i < pixels; ++i) {
        out[3 * i] = r[i];
        out[3 * i + 1] = g[i];
        out[3 * i + 2] = b[i];
    }
}

void YbrFullToRgb(std::span<uint8_t> triplets) {
    static const YbrTables tables = [] {
        YbrTables t;
        for (int y = 0; y < 256; ++y) {
            for (int c = 0; c < 256; ++c) {
                t.red[y][c] = Clip(y + 1.402 * (c - 128));
                t.blue[y][c] = Clip(y + 1.772 * (c - 128));
            }
        }
        return t;
    }();
    for (size_t i = 0; i + 3 <= triplets.size(); i += 3) {
        const int y = triplets[i], cb = triplets[i + 1], cr = triplets[i + 2];
        triplets[i] = tables.red[y][cr];
        triplets[i + 1] = Clip(y - 0.344136 * (cb - 128) - 0.714136 * (cr - 128));
        triplets[i + 2] = tables.blue[y][cb];
    }
}

void YbrPartialToRgb(std::span<uint8_t> triplets) {
    for (size_t i = 0; i + 3 <= triplets.size(); i += 3) {
        const double y = 1.1644 * (triplets[i] - 16);
        const double cb = triplets[i + 1] - 128.0, cr = triplets[i + 2] - 128.0;
        triplets[i] = Clip(y + 1.5960 * cr);
        triplets[i + 1] = Clip(y - 0.3917 * cb - 0.8129 * cr);
        triplets[i + 2] = Clip(y + 2.0172 * cb);
    }
}

bool ExpandYbr422(std::span<const uint8_t> source, uint32_t columns, uint32_t rows,
                  uint8_t* out) {
    const size_t pairsPerRow = (size_t{columns} + 1) / 2;
    if (source.size() < pairsPerRow * 4 * rows) return false;
    const uint8_t* in = source.data();
    for (uint32_t row = 0; row < rows; ++row) {
        uint8_t* line = out + size_t{row} * columns * 3;
        for (uint32_t col = 0; col < columns; col += 2, in += 4) {
            line[3 * col] = in[0];
            line[3 * col + 1] = in[2];
            line[3 * col + 2] = in[3];
            if (col + 1 < columns) {
                line[3 * col + 3] = in[1];
                line[3 * col + 4] = in[2];
                line[3 * col + 5] = in[3];
            }
        }
    }
    return true;
}

DecodeStatus NativeColourToRgb(std::span<const uint8_t> source, const PixelFormat& format,
                               bool ybr422, bool bigEndian, uint32_t columns, uint32_t rows,
                               uint8_t* out) {
    const size_t pixels = size_t{columns} * rows;
    const PhotometricCode code = format.photometric;
    const bool partial = code == PhotometricCode::YbrPartial422 ||
                         code == PhotometricCode::YbrPartial420;
    if (ybr422 || partial) {
        if (format.bitsAllocated != 8) return DecodeStatus::Unsupported;
        if (!ExpandYbr422(source, columns, rows, out)) return DecodeStatus::ReadFailed;
    } else if (format.bitsAllocated == 8) {
        if (source.size() < pixels * 3) return DecodeStatus::ReadFailed;
        if (format.planar == 1) {
            InterleavePlanes(source.data(), pixels, out);
        } else {
            std::copy_n(source.data(), pixels * 3, out);
        }
    } else if (format.bitsAllocated == 16) {
        // 16-bit colour keeps its top eight stored bits.
        if (source.size() < pixels * 6) return DecodeStatus::ReadFailed;
        const int shift = std::clamp<int>(format.bitsStored, 8, 16) - 8;
        std::vector<uint8_t> bytes(pixels * 3);
        for (size_t i = 0; i < pixels * 3; ++i) {
            const uint8_t lo = source[2 * i + (bigEndian ? 1 : 0)];
            const uint8_t hi = source[2 * i + (bigEndian ? 0 : 1)];
            const uint32_t word = uint32_t{hi} << 8 | lo;
            bytes[i] = static_cast<uint8_t>(std::min<uint32_t>(word >> shift, 255));
        }
        if (format.planar == 1) {
            InterleavePlanes(bytes.data(), pixels, out);
        } else {
            std::copy(bytes.begin(), bytes.end(), out);
        }
    } else {
        return DecodeStatus::Unsupported;
    }
    std::span<uint8_t> triplets(out, pixels * 3);
    if (partial) {
        YbrPartialToRgb(triplets);
    } else if (code == PhotometricCode::YbrFull) {
        YbrFullToRgb(triplets);
    }
    return DecodeStatus::Ok;
}

}  // namespace vexel
