// Reading pixel-like values (pixel data, overlay planes) in the byte order their samples are
// unpacked from, whatever the file's byte order.
#pragma once

#include <cstdint>

#include "dicom/dicom_file.h"

namespace vexel {

// Bytes [start, start + size) of the element's value as a little-endian file would hold them.
// PS3.5 7.3: OW is a stream of 16-bit words, so a big-endian file stores 8-bit samples, 1-bit
// planes and 12-bit packed samples with the two bytes of every word exchanged; those words are
// counted from the start of the value, so an odd start is handled. 16- and 32-bit samples,
// whose readers swap them as whole samples, must not come through here. OB and every other VR
// are read as they are.
bool ReadSampleBytes(CDicomFile& file, const CDicomElement* element, uint64_t start,
                     uint64_t size, uint8_t* dest);

}  // namespace vexel
