// Decodes one JPEG 2000 frame (ISO/IEC 15444-1 codestream or JP2 file) with OpenJPEG into
// the codec output layout.
#pragma once

#include <cstdint>

#include "vexel_codec.h"

namespace vexel::codec {

// Reads the header, checks it against the request and decodes. Components must share one
// size: subsampled components (allowed by the standard, not used by DICOM's YBR_RCT and
// YBR_ICT) are refused as unsupported rather than up-sampled.
int32_t DecodeJ2kFrame(VexelDecodeRequest& request);

}  // namespace vexel::codec
