#include "jpeg_frame_header.h"

#include "vexel_codec.h"

namespace vexel {

namespace {

uint32_t Read16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0] << 8 | p[1]);
}

bool IsFrameMarker(uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool IsStandalone(uint8_t marker) {
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

}  // namespace

uint8_t NextJpegMarker(const uint8_t* data, size_t size, size_t* position) {
    size_t pos = *position;
    for (;;) {
        while (pos < size && data[pos] != 0xFF)
            ++pos;
        while (pos < size && data[pos] == 0xFF)
            ++pos;
        if (pos >= size) return 0;
        const uint8_t marker = data[pos++];
        if (marker != 0x00) {
            *position = pos;
            return marker;
        }
    }
}

int32_t ReadJpegFrameHeader(const uint8_t* data, size_t size, JpegFrameHeader* header) {
    *header = JpegFrameHeader{};
    if (data == nullptr || size < 4 || data[0] != 0xFF || data[1] != 0xD8) {
        return VEXEL_CODEC_CORRUPT;
    }
    size_t pos = 2;
    for (;;) {
        const uint8_t marker = NextJpegMarker(data, size, &pos);
        if (marker == 0) break;
        if (IsStandalone(marker)) continue;
        if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA) break;  // no frame before
        if (size - pos < 2) break;
        const uint32_t length = Read16(data + pos);
        if (length < 2 || size - pos < length) break;
        if (IsFrameMarker(marker)) {
            if (length < 8) break;
            const uint8_t* p = data + pos + 2;
            header->sofMarker = marker;
            header->precision = p[0];
            header->rows = Read16(p + 1);
            header->columns = Read16(p + 3);
            header->components = p[5];
            return VEXEL_CODEC_OK;
        }
        pos += length;
    }
    return VEXEL_CODEC_CORRUPT;
}

}  // namespace vexel
