// Assigning the fragments of encapsulated pixel data to frames (PS3.5 A.4).
#pragma once

#include <cstdint>
#include <vector>

#include "dicom/dicom_file.h"

namespace vexel {

using FragmentList = std::vector<const CDicomElement*>;

// In order of preference: the Basic Offset Table's item offsets; one fragment per frame when
// there are as many fragments as frames; frames ended by a JPEG end-of-image (or JPEG 2000
// end-of-codestream) marker; a single frame of everything.
std::vector<FragmentList> SplitFragmentsIntoFrames(CDicomFile& file,
                                                   const CDicomElement* pixelData,
                                                   int32_t numberOfFrames,
                                                   TransferSyntaxCode syntax);

}  // namespace vexel
