// Decodes one JPEG-LS frame (ISO/IEC 14495-1) with CharLS into the codec output layout.
#pragma once

#include <cstdint>

#include "vexel_codec.h"

namespace vexel::codec {

// Reads the header, checks it against the request and decodes; never throws except
// std::bad_alloc, which the entry points turn into VEXEL_CODEC_NO_MEMORY.
int32_t DecodeJpegLsFrame(VexelDecodeRequest& request);

}  // namespace vexel::codec
