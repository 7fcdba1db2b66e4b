// Checks shared by the codec modules' entry points: the request's own fields and the
// stream's declared size against the request, before anything is written.
#pragma once

#include <cstdint>
#include <limits>
#include <new>

#include "vexel_codec.h"

namespace vexel::codec {

// A request the old entry point stands for: no expectations, no known capacity.
inline VexelDecodeRequest UncheckedRequest(const uint8_t* data, uint32_t size, uint8_t* output) {
    VexelDecodeRequest request{};
    request.structSize = sizeof(VexelDecodeRequest);
    request.data = data;
    request.size = size;
    request.output = output;
    request.capacity = std::numeric_limits<uint64_t>::max();
    request.colour = VEXEL_COLOUR_UNKNOWN;
    return request;
}

inline int32_t ValidateRequest(const VexelDecodeRequest* request) {
    if (request == nullptr || request->structSize < sizeof(VexelDecodeRequest))
        return VEXEL_CODEC_BAD_ARGUMENT;
    if (request->data == nullptr || request->output == nullptr) return VEXEL_CODEC_BAD_ARGUMENT;
    if (request->components != 0 && request->components != 1 && request->components != 3)
        return VEXEL_CODEC_BAD_ARGUMENT;
    if (request->colour > VEXEL_COLOUR_YBR) return VEXEL_CODEC_BAD_ARGUMENT;
    if (request->size == 0) return VEXEL_CODEC_CORRUPT;
    return VEXEL_CODEC_OK;
}

// The body of a module's DecompressJPEGEx: the request checked, then decoded, with nothing
// thrown crossing the C boundary.
template <typename Decoder>
int32_t GuardedDecode(VexelDecodeRequest* request, Decoder decode) {
    const int32_t status = ValidateRequest(request);
    if (status != VEXEL_CODEC_OK) return status;
    try {
        return decode(*request);
    } catch (const std::bad_alloc&) {
        return VEXEL_CODEC_NO_MEMORY;
    } catch (...) {
        return VEXEL_CODEC_CORRUPT;
    }
}

// Bytes the decoded frame takes: 16-bit words for one component, RGB bytes for three.
inline uint64_t OutputBytes(uint32_t rows, uint32_t columns, uint32_t components) {
    const uint64_t pixels = static_cast<uint64_t>(rows) * columns;  // < 2^64: both are 32-bit
    const uint64_t perPixel = components == 1 ? 2 : 3;
    if (pixels > std::numeric_limits<uint64_t>::max() / perPixel)
        return std::numeric_limits<uint64_t>::max();
    return pixels * perPixel;
}

// Compares the stream's header (already stored in request.stream*) with the request.
// Zero in rows, columns or components means "not known" and matches anything.
inline int32_t CheckStreamAgainstRequest(const VexelDecodeRequest& request) {
    if (request.streamComponents != 1 && request.streamComponents != 3)
        return VEXEL_CODEC_UNSUPPORTED;
    if (request.streamPrecision < 1 || request.streamPrecision > 16) return VEXEL_CODEC_UNSUPPORTED;
    if (request.streamRows == 0 || request.streamColumns == 0) return VEXEL_CODEC_CORRUPT;
    if ((request.rows != 0 && request.rows != request.streamRows) ||
        (request.columns != 0 && request.columns != request.streamColumns) ||
        (request.components != 0 && request.components != request.streamComponents))
        return VEXEL_CODEC_SIZE_MISMATCH;
    const uint64_t needed =
        OutputBytes(request.streamRows, request.streamColumns, request.streamComponents);
    if (needed > request.capacity) return VEXEL_CODEC_OUTPUT_TOO_SMALL;
    return VEXEL_CODEC_OK;
}

}  // namespace vexel::codec
