#include "imaging/png_writer.h"

#include <zlib.h>

#include <limits>
#include <string_view>

#include "platform/atomic_file.h"

namespace vexel {
namespace {

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutChunk(std::vector<uint8_t>& out, std::string_view type, const std::vector<uint8_t>& data) {
    Put32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32_z(0, out.data() + start, out.size() - start);
    Put32(out, static_cast<uint32_t>(crc));
}

// Filter byte 0 (none) before each row of R, G, B.
std::vector<uint8_t> RawRows(const uint32_t* pixels, uint32_t width, uint32_t height,
                             size_t stride) {
    std::vector<uint8_t> raw;
    raw.reserve((size_t(width) * 3 + 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        const uint32_t* row = pixels + y * stride;
        for (uint32_t x = 0; x < width; ++x) {
            raw.push_back(static_cast<uint8_t>(row[x] >> 16));
            raw.push_back(static_cast<uint8_t>(row[x] >> 8));
            raw.push_back(static_cast<uint8_t>(row[x]));
        }
    }
    return raw;
}

}  // namespace

std::vector<uint8_t> EncodePng(const uint32_t* pixels, uint32_t width, uint32_t height,
                               size_t stride) {
    if (pixels == nullptr || width == 0 || height == 0 || stride < width || width > (1u << 24) ||
        height > (1u << 24)) {
        return {};
    }
    const std::vector<uint8_t> raw = RawRows(pixels, width, height, stride);
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 6) !=
        Z_OK) {
        return {};
    }
    packed.resize(packedSize);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    Put32(header, width);
    Put32(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit, truecolour, deflate, no interlace
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", packed);
    PutChunk(png, "IEND", {});
    return png;
}

bool WritePng(const std::filesystem::path& path, const uint32_t* pixels, uint32_t width,
              uint32_t height, size_t stride) {
    const std::vector<uint8_t> png = EncodePng(pixels, width, height, stride);
    return !png.empty() &&
           WriteFileAtomically(path, {reinterpret_cast<const char*>(png.data()), png.size()});
}

}  // namespace vexel
