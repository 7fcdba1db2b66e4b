#include "libjpeg_encoder.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "libjpeg_error.h"
#include "vexel_codec.h"

namespace vexel {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

struct CompressState {
    jpeg_compress_struct info{};
    LibjpegErrorManager error;
    std::unique_ptr<std::FILE, FileCloser> file;
    bool created = false;

    ~CompressState() {
        if (created) jpeg_destroy_compress(&info);
    }
};

}  // namespace

int32_t CompressRgbToJpegFile(const uint8_t* rgb, int32_t width, int32_t height, int32_t quality,
                              const char* path) {
    if (rgb == nullptr || path == nullptr || width <= 0 || height <= 0 ||
        width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) {
        return VEXEL_CODEC_BAD_ARGUMENT;
    }
    auto state = std::make_unique<CompressState>();
    state->file.reset(std::fopen(path, "wb"));
    if (!state->file) return VEXEL_CODEC_BAD_ARGUMENT;
    jpeg_compress_struct& info = state->info;
    state->error.Install(reinterpret_cast<jpeg_common_struct*>(&info));
    if (setjmp(state->error.jump)) {
        state.reset();
        std::remove(path);
        return VEXEL_CODEC_CORRUPT;
    }
    jpeg_create_compress(&info);
    state->created = true;
    jpeg_stdio_dest(&info, state->file.get());
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, std::clamp(quality, 1, 100), TRUE);
    jpeg_start_compress(&info, TRUE);
    const size_t stride = static_cast<size_t>(width) * 3;
    while (info.next_scanline < info.image_height) {
        // libjpeg's row type is not const, but compression only reads the rows.
        JSAMPROW row = const_cast<uint8_t*>(rgb + stride * info.next_scanline);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    const bool written = std::fflush(state->file.get()) == 0;
    state.reset();
    if (!written) {
        std::remove(path);
        return VEXEL_CODEC_CORRUPT;
    }
    return VEXEL_CODEC_OK;
}

}  // namespace vexel
