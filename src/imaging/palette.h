// Palette colour look-up: indices to RGB through the three (0028,110x)/(0028,120x) tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexel {

class CDicomFile;

class CPalette {
public:
    // Reads and checks the three descriptors and tables; false when any is missing, they
    // disagree, or a table is shorter than its descriptor says.
    bool Load(CDicomFile& file);

    // One RGB triplet per index; indices outside the table take its first or last entry.
    void Apply(const uint8_t* indices, size_t count, uint8_t* rgb) const;
    void Apply(const uint16_t* indices, size_t count, uint8_t* rgb) const;

    uint32_t EntryCount() const { return m_entries; }

private:
    uint8_t Lookup(int channel, int64_t index) const;

    uint32_t m_entries = 0;
    int64_t m_firstMapped[3] = {0, 0, 0};
    std::vector<uint8_t> m_tables[3];  // 8-bit output per entry
};

}  // namespace vexel
