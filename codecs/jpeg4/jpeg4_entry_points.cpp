// The C entry points of libvexel-jpeg4.so (JPEG-LS). Nothing thrown may cross them.
#include "common/decode_request.h"
#include "jpegls_frame_decoder.h"
#include "vexel_codec.h"

extern "C" VEXEL_CODEC_EXPORT int32_t DecompressJPEGEx(VexelDecodeRequest* request) {
    return vexel::codec::GuardedDecode(request, vexel::codec::DecodeJpegLsFrame);
}

extern "C" VEXEL_CODEC_EXPORT int32_t DecompressJPEG(const uint8_t* data, uint32_t size,
                                                     uint8_t* output) {
    VexelDecodeRequest request = vexel::codec::UncheckedRequest(data, size, output);
    return DecompressJPEGEx(&request);
}
