// libvexel-jpeg2.so: lossless JPEG of 13 to 16 bits. Lower precisions decode as well.
#include "codec_frontend.h"
#include "vexel_codec.h"

extern "C" {

VEXEL_CODEC_EXPORT int32_t DecompressJPEGEx(VexelDecodeRequest* request) {
    return vexel::DecodeRequest(request, vexel::DecodeLosslessFrame);
}

VEXEL_CODEC_EXPORT int32_t DecompressJPEG(const uint8_t* data, uint32_t size, uint8_t* output) {
    return vexel::DecodeLegacy(data, size, output, vexel::DecodeLosslessFrame);
}

}  // extern "C"
