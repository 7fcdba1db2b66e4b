// What every JPEG module does around its decoders: check the request against the stream's
// frame header before anything is written, report the stream's figures, keep exceptions
// inside the module; and the lossless path shared by jpeg1, jpeg2 and jpeg3.
#pragma once

#include <cstdint>

#include "jpeg_frame_header.h"
#include "vexel_codec.h"

namespace vexel {

// Bytes of a decoded frame: rows x columns x 2 for one component, x 3 for three; 0 for
// other component counts.
uint64_t DecodedFrameBytes(uint64_t rows, uint64_t columns, uint32_t components);

// Decodes a request whose sizes and capacity were checked against `frame`.
using FrameDecoder = int32_t (*)(VexelDecodeRequest& request, const JpegFrameHeader& frame);

// The extended entry point: validates the request, reads the frame header, fills the
// stream fields, fails with SIZE_MISMATCH or OUTPUT_TOO_SMALL before writing, then decodes.
int32_t DecodeRequest(VexelDecodeRequest* request, FrameDecoder decoder);

// The original entry point: no expected sizes, no capacity limit.
int32_t DecodeLegacy(const uint8_t* data, uint32_t size, uint8_t* output, FrameDecoder decoder);

// Lossless (SOF3) frames with our own decoder.
int32_t DecodeLosslessFrame(VexelDecodeRequest& request, const JpegFrameHeader& frame);

}  // namespace vexel
