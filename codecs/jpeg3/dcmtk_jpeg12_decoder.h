// DCT-based JPEG with 12-bit samples through DCMTK's IJG 12-bit codec.
#pragma once

#include <cstdint>

#include "jpeg_frame_header.h"
#include "vexel_codec.h"

namespace vexel {

// A request already checked against `frame` (see codec_frontend.h).
int32_t DecodeWithDcmtk12(VexelDecodeRequest& request, const JpegFrameHeader& frame);

}  // namespace vexel
