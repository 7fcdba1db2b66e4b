#include "codec_frontend.h"

#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "colour_output.h"
#include "common/decode_request.h"
#include "lossless_jpeg_decoder.h"

namespace vexel {

uint64_t DecodedFrameBytes(uint64_t rows, uint64_t columns, uint32_t components) {
    if (components == 1) return rows * columns * 2;
    if (components == 3) return rows * columns * 3;
    return 0;
}

namespace {

int32_t CheckRequest(VexelDecodeRequest& request, const JpegFrameHeader& frame) {
    if (frame.components != 1 && frame.components != 3) return VEXEL_CODEC_UNSUPPORTED;
    if (frame.columns == 0) return VEXEL_CODEC_CORRUPT;
    if (frame.rows == 0) return VEXEL_CODEC_UNSUPPORTED;  // height given by a DNL marker
    if ((request.rows != 0 && request.rows != frame.rows) ||
        (request.columns != 0 && request.columns != frame.columns) ||
        (request.components != 0 && request.components != frame.components)) {
        return VEXEL_CODEC_SIZE_MISMATCH;
    }
    if (DecodedFrameBytes(frame.rows, frame.columns, frame.components) > request.capacity) {
        return VEXEL_CODEC_OUTPUT_TOO_SMALL;
    }
    return VEXEL_CODEC_OK;
}

}  // namespace

int32_t DecodeRequest(VexelDecodeRequest* request, FrameDecoder decoder) {
    if (request == nullptr || request->structSize < sizeof(VexelDecodeRequest)) {
        return VEXEL_CODEC_BAD_ARGUMENT;
    }
    VexelDecodeRequest& r = *request;
    r.streamRows = r.streamColumns = r.streamComponents = r.streamPrecision = r.streamSigned = 0;
    if (r.data == nullptr || r.output == nullptr || r.colour > VEXEL_COLOUR_YBR ||
        r.size > std::numeric_limits<size_t>::max()) {
        return VEXEL_CODEC_BAD_ARGUMENT;
    }
    JpegFrameHeader frame;
    int32_t status = ReadJpegFrameHeader(r.data, static_cast<size_t>(r.size), &frame);
    if (status != VEXEL_CODEC_OK) return status;
    r.streamRows = frame.rows;
    r.streamColumns = frame.columns;
    r.streamComponents = frame.components;
    r.streamPrecision = frame.precision;
    status = CheckRequest(r, frame);
    if (status != VEXEL_CODEC_OK) return status;
    try {
        return decoder(r, frame);
    } catch (const std::bad_alloc&) {
        return VEXEL_CODEC_NO_MEMORY;
    } catch (...) {
        return VEXEL_CODEC_CORRUPT;
    }
}

int32_t DecodeLegacy(const uint8_t* data, uint32_t size, uint8_t* output, FrameDecoder decoder) {
    VexelDecodeRequest request = codec::UncheckedRequest(data, size, output);
    return DecodeRequest(&request, decoder);
}

int32_t DecodeLosslessFrame(VexelDecodeRequest& request, const JpegFrameHeader& frame) {
    if (!frame.IsLossless()) return VEXEL_CODEC_UNSUPPORTED;
    const size_t pixels = static_cast<size_t>(frame.rows) * frame.columns;
    const size_t size = static_cast<size_t>(request.size);
    CLosslessJpegDecoder decoder;
    if (frame.components == 1 && reinterpret_cast<uintptr_t>(request.output) % 2 == 0) {
        return decoder.Decode(request.data, size, reinterpret_cast<uint16_t*>(request.output),
                              pixels);
    }
    std::vector<uint16_t> samples(pixels * frame.components);
    const int32_t status = decoder.Decode(request.data, size, samples.data(), samples.size());
    if (status != VEXEL_CODEC_OK) return status;
    if (frame.components == 1) {
        std::memcpy(request.output, samples.data(), pixels * 2);
    } else {
        // Lossless colour is stored as it was given; only data declared YBR is converted.
        const bool ybr = request.colour == VEXEL_COLOUR_YBR;
        WriteInterleavedRgb(samples.data(), pixels, frame.precision, ybr, request.output);
    }
    return VEXEL_CODEC_OK;
}

}  // namespace vexel
