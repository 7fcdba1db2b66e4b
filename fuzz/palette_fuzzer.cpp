// Palette colour look-up with arbitrary descriptors, tables and indices.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dicom/dicom_dictionary.h"
#include "dicom/dicom_file.h"
#include "imaging/palette.h"
#include "platform/checked_alloc.h"

namespace {

vexel::CDicomDictionary g_dictionary;

void AddValue(vexel::CDicomFile& file, uint32_t tag, vexel::VrCode vr, const uint8_t* bytes,
              size_t length) {
    auto* raw = static_cast<uint8_t*>(vexel::CheckedAlloc(length + 1));
    if (raw == nullptr) return;
    if (length) std::memcpy(raw, bytes, length);
    raw[length] = 0;
    file.AddElement(file.Root(), uint16_t(tag >> 16), uint16_t(tag), vr, raw, 0,
                    static_cast<uint32_t>(length), 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 24) return 0;
    vexel::CDicomFile file;
    // Three 6-byte descriptors, then the rest split into three tables and the indices.
    for (uint32_t c = 0; c < 3; ++c) AddValue(file, 0x00281101 + c, vexel::VrCode::US, data + 6 * c, 6);
    const uint8_t* rest = data + 18;
    const size_t restSize = size - 18;
    const size_t part = restSize / 4;
    for (uint32_t c = 0; c < 3; ++c) {
        AddValue(file, 0x00281201 + c, vexel::VrCode::OW, rest + part * c, part);
    }
    vexel::CPalette palette;
    if (!palette.Load(file)) return 0;
    const uint8_t* indices = rest + 3 * part;
    const size_t count = restSize - 3 * part;
    std::vector<uint8_t> rgb(3 * count + 3);
    palette.Apply(indices, count, rgb.data());
    std::vector<uint16_t> wide(count / 2);
    if (!wide.empty()) std::memcpy(wide.data(), indices, wide.size() * 2);
    palette.Apply(wide.data(), wide.size(), rgb.data());
    return 0;
}
