#include "imaging/palette.h"

#include <algorithm>
#include <cstring>

#include "dicom/dicom_file.h"

namespace vexel {
namespace {

struct Descriptor {
    uint32_t entries;
    uint16_t firstMapped;
    uint16_t bits;
};

bool ReadDescriptor(CDicomFile& file, uint32_t tag, Descriptor& out) {
    CDicomElement* element = file.FindElement(tag);
    uint16_t values[3];
    if (element == nullptr || element->length < 6 || !file.ReadBytes(element, values, 0, 6)) {
        return false;
    }
    // Descriptors are read as unsigned whatever VR they carry (US, SS or the dictionary's
    // US\SS); ReadBytes gives the file's byte order.
    if (file.IsBigEndian()) {
        for (uint16_t& v : values) v = static_cast<uint16_t>((v >> 8) | (v << 8));
    }
    out.entries = values[0] == 0 ? 65536u : values[0];
    out.firstMapped = values[1];
    out.bits = values[2];
    return true;
}

}  // namespace

bool CPalette::Load(CDicomFile& file) {
    Descriptor descriptors[3];
    for (int c = 0; c < 3; ++c) {
        if (!ReadDescriptor(file, 0x00281101u + static_cast<uint32_t>(c), descriptors[c])) return false;
    }
    for (int c = 1; c < 3; ++c) {
        if (descriptors[c].entries != descriptors[0].entries ||
            descriptors[c].bits != descriptors[0].bits) {
            return false;
        }
    }
    m_entries = descriptors[0].entries;
    for (int c = 0; c < 3; ++c) {
        CDicomElement* data = file.FindElement(0x00281201u + static_cast<uint32_t>(c));
        if (data == nullptr) return false;
        const uint8_t* raw = file.RawValue(data);
        if (raw == nullptr) return false;
        const uint32_t length = data->length;
        m_firstMapped[c] = descriptors[c].firstMapped;
        std::vector<uint8_t>& table = m_tables[c];
        table.resize(m_entries);
        if (length >= 2u * m_entries) {
            // 16-bit words: 16-bit entries keep their high byte; 8-bit entries stored one
            // per word (old writers) sit in the low byte when no word exceeds 255.
            std::vector<uint16_t> words(m_entries);
            std::memcpy(words.data(), raw, 2u * m_entries);
            const bool lowBytes = descriptors[c].bits <= 8 &&
                                  std::all_of(words.begin(), words.end(),
                                              [](uint16_t w) { return w <= 255; });
            for (uint32_t i = 0; i < m_entries; ++i) {
                table[i] = static_cast<uint8_t>(lowBytes ? words[i] : words[i] >> 8);
            }
        } else if (length >= m_entries && descriptors[c].bits <= 8) {
            std::copy_n(raw, m_entries, table.begin());
        } else {
            return false;
        }
    }
    return true;
}

uint8_t CPalette::Lookup(int channel, int64_t index) const {
    const int64_t i = std::clamp<int64_t>(index - m_firstMapped[channel], 0, int64_t{m_entries} - 1);
    return m_tables[channel][static_cast<size_t>(i)];
}

void CPalette::Apply(const uint8_t* indices, size_t count, uint8_t* rgb) const {
    for (size_t p = 0; p < count; ++p) {
        for (int c = 0; c < 3; ++c) rgb[3 * p + c] = Lookup(c, indices[p]);
    }
}

void CPalette::Apply(const uint16_t* indices, size_t count, uint8_t* rgb) const {
    for (size_t p = 0; p < count; ++p) {
        for (int c = 0; c < 3; ++c) rgb[3 * p + c] = Lookup(c, indices[p]);
    }
}

}  // namespace vexel
