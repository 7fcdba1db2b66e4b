// Old-style files for the reader and decoder tests: headless ACR-NEMA data sets (implicit VR
// little endian, no preamble, no meta group, a group length opening every group, retired
// elements, dotted dates, 12-bit packed pixels).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/byte_builder.h"

namespace vexel::test {

struct AcrNemaImage {
    const char* name;
    const char* recognitionCode;  // "" for none
    uint16_t bitsAllocated;       // 12 (two samples in three bytes) or 16
    uint16_t rows;
    uint16_t columns;
};

// Stored 12-bit values of a deterministic pattern.
inline std::vector<uint16_t> AcrNemaSamples(const AcrNemaImage& image) {
    std::vector<uint16_t> samples(size_t{image.rows} * image.columns);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint16_t((i * 2654435761u >> 7) & 0xFFF);
    return samples;
}

// The data set; the group length of group 0008 is wrong on purpose (it only informs).
inline ByteBuilder BuildAcrNema(const AcrNemaImage& image) {
    auto pad = [](std::string v) { return v.size() % 2 ? v + ' ' : v; };
    auto u16 = ByteBuilder::LittleU16;
    using Group = std::vector<std::pair<uint16_t, std::string>>;
    std::string pixels;
    const std::vector<uint16_t> s = AcrNemaSamples(image);
    for (size_t i = 0; i < s.size(); i += (image.bitsAllocated == 12 ? 2 : 1)) {
        // 12 bits: the first sample in the low 12 bits of the stream (PS3.5 8.1.1 bit order).
        const uint16_t next = i + 1 < s.size() ? s[i + 1] : 0;
        pixels += image.bitsAllocated == 16
                      ? u16(s[i])
                      : std::string{char(s[i] & 0xFF), char((s[i] >> 8) | ((next & 0xF) << 4)),
                                    char(next >> 4)};
    }
    Group g08{{0x0020, "1996.12.02"}, {0x0040, u16(0)}, {0x0060, "CT"}};
    if (*image.recognitionCode) g08.insert(g08.begin(), {0x0010, pad(image.recognitionCode)});
    const Group groups[] = {
        g08,
        {{0x0010, "Doe^John"}, {0x0030, "1950.01.31"}},
        {{0x0005, u16(2)}, {0x0010, u16(image.rows)}, {0x0011, u16(image.columns)},
         {0x0060, "NONE"}, {0x0100, u16(image.bitsAllocated)}, {0x0101, u16(12)},
         {0x0102, u16(11)}, {0x0103, u16(0)}},
        {{0x0010, pixels.size() % 2 ? pixels + '\0' : pixels}},
    };
    const uint16_t numbers[] = {0x0008, 0x0010, 0x0028, 0x7FE0};
    ByteBuilder bytes;
    for (size_t g = 0; g < 4; ++g) {
        ByteBuilder body;
        for (const auto& [element, value] : groups[g]) body.Implicit(numbers[g], element, value);
        const uint32_t length = g == 0 ? 6 : uint32_t(body.Size());
        bytes.Implicit(numbers[g], 0x0000, ByteBuilder::LittleU32(length)).Raw(body.Bytes());
    }
    return bytes;
}

inline const AcrNemaImage kAcrNemaImages[] = {
    {"acr_nema_1_bits12", "ACR-NEMA 1.0", 12, 5, 7},
    {"acr_nema_2_bits12", "ACR-NEMA 2.0", 12, 64, 64},
    {"acr_nema_2_bits16", "ACR-NEMA 2.0", 16, 9, 11},
    {"no_recognition_code_bits12", "", 12, 16, 16},
};

}  // namespace vexel::test
