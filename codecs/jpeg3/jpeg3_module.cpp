// libvexel-jpeg3.so: JPEG with 9 to 12 bits: lossless streams (any precision) with our own
// decoder, 12-bit DCT streams with DCMTK's IJG 12-bit codec.
#include "codec_frontend.h"
#include "dcmtk_jpeg12_decoder.h"
#include "vexel_codec.h"

namespace {

int32_t DecodeFrame(VexelDecodeRequest& request, const vexel::JpegFrameHeader& frame) {
    if (frame.IsLossless()) return vexel::DecodeLosslessFrame(request, frame);
    if (frame.IsHuffmanDct()) return vexel::DecodeWithDcmtk12(request, frame);
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

}  // extern "C"
