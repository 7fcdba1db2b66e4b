// The data set of one reformatted slice: an in-memory file that carries the source's
// patient, study and acquisition elements, its own UIDs and geometry, and the slice's pixels
// as the one frame of its image, so the viewer, export and the command line read it like any
// file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dicom/dicom_file.h"
#include "volume/mpr_layout.h"

namespace vexel {

// How the slices store their values: real value = stored x slope + intercept.
struct MprValueScale {
    double slope = 1;
    double intercept = 0;
    bool isSigned = false;
};

struct MprSliceHeader {
    std::string seriesInstanceUid;
    std::string sopInstanceUid;
    uint32_t index = 0;  // the slice's place in the output, from 0
    MprValueScale scale;
};

// A new UID under 2.25 from 128 random bits (at most 44 characters).
std::string NewUuidUid();

// The file of slice `header.index`; `pixels` (rows x columns 16-bit words, a guarded block)
// is taken over in every case. Null when the frame cannot be built. The file carries one
// reference, as MakeInMemory gives it.
std::unique_ptr<CDicomFile> MakeMprSliceFile(CDicomFile& source, const MprLayout& layout,
                                             const MprSliceHeader& header, uint8_t* pixels);

}  // namespace vexel
