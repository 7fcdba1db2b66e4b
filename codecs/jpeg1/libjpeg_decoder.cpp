#include "libjpeg_decoder.h"

#include <cstring>
#include <memory>
#include <vector>

#include "libjpeg_error.h"

namespace vexel {

namespace {

// Owns the decompressor; destroyed however the decode ends, longjmp included, because the
// state outlives the frame that called setjmp.
struct DecompressState {
    jpeg_decompress_struct info{};
    LibjpegErrorManager error;
    bool created = false;

    ~DecompressState() {
        if (created) jpeg_destroy_decompress(&info);
    }
};

void ChooseColourSpace(jpeg_decompress_struct& info, uint32_t colour) {
    if (info.num_components == 1) {
        info.out_color_space = JCS_GRAYSCALE;
        return;
    }
    if (colour == VEXEL_COLOUR_RGB) {
        info.jpeg_color_space = JCS_RGB;  // R, G, B as stored: no transform
    } else if (colour == VEXEL_COLOUR_YBR) {
        info.jpeg_color_space = JCS_YCbCr;
    }  // unknown: what libjpeg concluded from the JFIF and Adobe markers
    info.out_color_space = JCS_RGB;
}

// 8-bit samples to the one-component layout of 16-bit words; written so that it vectorises.
void Widen(const uint8_t* __restrict in, uint8_t* __restrict out, uint32_t count) {
    if (reinterpret_cast<uintptr_t>(out) % alignof(uint16_t) == 0) {
        uint16_t* __restrict words = reinterpret_cast<uint16_t*>(out);
        for (uint32_t x = 0; x < count; ++x)
            words[x] = in[x];
        return;
    }
    for (uint32_t x = 0; x < count; ++x) {
        const uint16_t v = in[x];
        std::memcpy(out + 2 * x, &v, 2);
    }
}

bool HeaderMatches(const jpeg_decompress_struct& info, const JpegFrameHeader& frame) {
    return info.image_width == frame.columns && info.image_height == frame.rows &&
           static_cast<uint32_t>(info.num_components) == frame.components &&
           info.data_precision == 8;
}

}  // namespace

int32_t DecodeWithLibjpeg(VexelDecodeRequest& request, const JpegFrameHeader& frame) {
    if (frame.precision != 8) return VEXEL_CODEC_UNSUPPORTED;
    auto state = std::make_unique<DecompressState>();
    std::vector<JSAMPLE> grey(frame.components == 1 ? frame.columns : 0);
    jpeg_decompress_struct& info = state->info;
    state->error.Install(reinterpret_cast<jpeg_common_struct*>(&info));
    if (setjmp(state->error.jump)) return VEXEL_CODEC_CORRUPT;
    jpeg_create_decompress(&info);
    state->created = true;
    jpeg_mem_src(&info, request.data, static_cast<unsigned long>(request.size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return VEXEL_CODEC_CORRUPT;
    // libjpeg must see the frame the request was checked against.
    if (!HeaderMatches(info, frame)) return VEXEL_CODEC_SIZE_MISMATCH;
    ChooseColourSpace(info, request.colour);
    jpeg_start_decompress(&info);
    if (info.output_width != frame.columns || info.output_height != frame.rows ||
        static_cast<uint32_t>(info.output_components) != frame.components) {
        return VEXEL_CODEC_SIZE_MISMATCH;
    }
    const size_t rowBytes = static_cast<size_t>(frame.columns) * (frame.components == 1 ? 2 : 3);
    while (info.output_scanline < info.output_height) {
        uint8_t* out = request.output + rowBytes * info.output_scanline;
        JSAMPROW row = frame.components == 1 ? grey.data() : out;
        if (jpeg_read_scanlines(&info, &row, 1) != 1) return VEXEL_CODEC_CORRUPT;
        if (frame.components == 1) Widen(grey.data(), out, frame.columns);
    }
    if (state->error.truncated) return VEXEL_CODEC_CORRUPT;
    jpeg_finish_decompress(&info);
    return VEXEL_CODEC_OK;
}

}  // namespace vexel
