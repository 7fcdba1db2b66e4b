// libvexel-jpeg1.so: JPEG with 8-bit samples (1 to 8 for lossless), the JPEG encoder and
// the frame size reader.
#include "codec_frontend.h"
#include "libjpeg_decoder.h"
#include "libjpeg_encoder.h"
#include "vexel_codec.h"

namespace {

int32_t DecodeFrame(VexelDecodeRequest& request, const vexel::JpegFrameHeader& frame) {
    if (frame.IsLossless()) return vexel::DecodeLosslessFrame(request, frame);
    if (frame.IsHuffmanDct() || frame.IsArithmeticDct()) {
        return vexel::DecodeWithLibjpeg(request, frame);
    }
    return VEXEL_CODEC_UNSUPPORTED;
}

}  // namespace

extern "C" {

VEXEL_CODEC_EXPORT int32_t DecompressJPEGEx(VexelDecodeRequest* request) {
    return vexel::DecodeRequest(request, DecodeFrame);
}

VEXEL_CODEC_EXPORT int32_t DecompressJPEG(const uint8_t* data, uint32_t size, uint8_t* output) {
    return vexel::DecodeLegacy(data, size, output, DecodeFrame);
}

VEXEL_CODEC_EXPORT int32_t ReadJPEGsize(const uint8_t* data, uint32_t size, int32_t* width,
                                        int32_t* height) {
    if (width == nullptr || height == nullptr) return VEXEL_CODEC_BAD_ARGUMENT;
    vexel::JpegFrameHeader frame;
    const int32_t status = vexel::ReadJpegFrameHeader(data, size, &frame);
    if (status != VEXEL_CODEC_OK) return status;
    *width = static_cast<int32_t>(frame.columns);
    *height = static_cast<int32_t>(frame.rows);
    return VEXEL_CODEC_OK;
}

VEXEL_CODEC_EXPORT int32_t CompressJPEG(const uint8_t* rgb, int32_t width, int32_t height,
                                        int32_t quality, const char* path) {
    try {
        return vexel::CompressRgbToJpegFile(rgb, width, height, quality, path);
    } catch (...) {
        return VEXEL_CODEC_NO_MEMORY;
    }
}

}  // extern "C"
