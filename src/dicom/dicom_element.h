// One data element of a parsed file; items and delimiters are elements too.
#pragma once

#include <cstdint>

#include "dicom/tag.h"
#include "dicom/vr.h"

namespace vexel {

inline constexpr uint32_t kUndefinedLength = 0xFFFFFFFFu;

// The in-memory value of an element, in its file's arena from the first value stored on.
// Every buffer is a guarded block owned by the value.
struct DicomValue {
    uint8_t* raw = nullptr;  // the value bytes as read plus one NUL; null while not in memory
    float* floats = nullptr;      // DS only: one per backslash-separated value
    int32_t* integers = nullptr;  // IS only
    char* text = nullptr;  // UTF-8 text decoded by the file's character set, cached on demand
};

// Elements live in their file's arena (64 bytes each, many to a block) and are released with
// the whole tree; children are kept as an intrusive list in file order, so appending never
// reallocates and a child costs no extra block.
struct CDicomElement {
    CDicomElement* parent = nullptr;  // null only for the root
    CDicomElement* firstChild = nullptr;
    CDicomElement* lastChild = nullptr;
    CDicomElement* nextSibling = nullptr;
    DicomValue* value = nullptr;  // null until a value was first stored
    uint64_t offset = 0;  // file position of the value; 0 when there is none
    uint32_t length = 0;  // value length as read; 0 for containers
    uint32_t declaredLength = 0;  // length field as written, containers too (kUndefinedLength)
    uint16_t group = 0;
    uint16_t element = 0;
    uint16_t count = 0;  // value multiplicity as far as the store knows it
    VrCode vr = VrCode::Unknown;
    uint8_t synthetic = 0;  // 1 for delimiters the reader inserted itself

    uint32_t Tag() const { return MakeTag(group, element); }
    bool HasValue() const { return value != nullptr && value->raw != nullptr; }
};
static_assert(sizeof(CDicomElement) == 64, "a file holds hundreds: keep them small");

}  // namespace vexel
