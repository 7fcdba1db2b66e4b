#include "imaging/sample_byte_order.h"

#include <algorithm>
#include <utility>

#include "platform/checked_alloc.h"

namespace vexel {

bool ReadSampleBytes(CDicomFile& file, const CDicomElement* element, uint64_t start,
                     uint64_t size, uint8_t* dest) {
    if (element == nullptr) return false;
    if (!file.IsBigEndian() || element->vr != VrCode::OW) {
        return file.ReadBytes(element, dest, start, size);
    }
    if (size < 1 || start > element->length || size > element->length - start) return false;
    // Whole words around the range; an odd-length value ends in a lone byte.
    const uint64_t first = start & ~uint64_t{1};
    const uint64_t last = std::min<uint64_t>((start + size + 1) & ~uint64_t{1}, element->length);
    CheckedPtr<uint8_t> words(static_cast<uint8_t*>(CheckedAlloc(last - first)));
    if (!words || !file.ReadBytes(element, words.get(), first, last - first)) return false;
    uint8_t* bytes = words.get();
    for (uint64_t i = 0; i + 1 < last - first; i += 2) std::swap(bytes[i], bytes[i + 1]);
    std::copy_n(bytes + (start - first), size, dest);
    return true;
}

}  // namespace vexel
