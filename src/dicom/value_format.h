// Display text of a value, as the DICOM tags window and `vexel dump` show it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "dicom/vr.h"

namespace vexel {

struct ValueFormatOptions {
    bool bigEndian = false;  // the bytes come straight from a big-endian file
    bool truncated = false;  // the bytes are the start of a longer value: "..." follows
    std::span<const uint16_t> characterSets;  // for names and free text
    size_t maxChars = 0;  // longer texts are cut, whole numbers kept, and "..." follows; 0: no cap
};

// Binary VRs as hex bytes (at most 32, then "...") or numbers joined by "\"; text VRs
// decoded to UTF-8 without their trailing NUL padding and made safe for one line
// (SafeDisplayText). A text that goes on ends with one "...".
std::string FormatValue(const uint8_t* bytes, uint32_t length, VrCode vr,
                        const ValueFormatOptions& options);

}  // namespace vexel
