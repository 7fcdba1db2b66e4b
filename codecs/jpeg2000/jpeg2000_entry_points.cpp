// The C entry points of libvexel-jpeg2000.so (JPEG 2000). Nothing thrown may cross them.
#include "common/decode_request.h"
#include "j2k_frame_decoder.h"
#include "vexel_codec.h"

extern "C" VEXEL_CODEC_EXPORT int32_t DecompressJPEGEx(VexelDecodeRequest* request) {
    return vexel::codec::GuardedDecode(request, vexel::codec::DecodeJ2kFrame);
}

extern "C" VEXEL_CODEC_EXPORT int32_t DecompressJPEG(const uint8_t* data, uint32_t size,
                                                     uint8_t* output) {
    VexelDecodeRequest request = vexel::codec::UncheckedRequest(data, size, output);
    return DecompressJPEGEx(&request);
}

// OpenJPEG 2.5 offers no allocator hooks (its static archive is not position independent,
// so its opj_malloc cannot be replaced at link time either) and the module itself allocates
// nothing large: it copies OpenJPEG's component planes straight into the caller's buffer.
// The table is therefore accepted and not used; OpenJPEG allocates with malloc.
extern "C" VEXEL_CODEC_EXPORT void InitMem(const VexelMemoryFunctions* /*functions*/) {}
