// Reads a DICOM file (PS3.10 with preamble, or a bare data set) into a CDicomFile.
#pragma once

#include <string>
#include <string_view>

#include "dicom/dicom_file.h"

namespace vexel {

enum class ReadStatus {
    Ok,
    CannotOpen,
    TooShort,
    Truncated,        // a value, item or container runs past its end
    Malformed,        // unclosed containers, bad bare data set, element limits exceeded
    NotDicom,         // a bare data set that does not look like DICOM
    OutOfMemory,
    InflateFailed,    // deflated data set that zlib cannot inflate
};

// Text for vexel's messages ("truncated or corrupt DICOM data" and the like).
const char* ReadStatusText(ReadStatus status);

// Reads path into file. The caller sets the deferred-values flag first. On failure the file
// object holds a partial tree and should be discarded.
ReadStatus ReadDicomFile(CDicomFile& file, const std::string& path);

}  // namespace vexel
