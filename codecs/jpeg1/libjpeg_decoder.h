// DCT-based JPEG with 8-bit samples through libjpeg-turbo.
#pragma once

#include <cstdint>

#include "jpeg_frame_header.h"
#include "vexel_codec.h"

namespace vexel {

// A request already checked against `frame` (see codec_frontend.h).
int32_t DecodeWithLibjpeg(VexelDecodeRequest& request, const JpegFrameHeader& frame);

}  // namespace vexel
