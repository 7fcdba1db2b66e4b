// Tags are 32-bit keys: group in the high half, element in the low half.
#pragma once

#include <cstdint>

namespace vexel {

constexpr uint32_t MakeTag(uint16_t group, uint16_t element) {
    return (static_cast<uint32_t>(group) << 16) | element;
}
constexpr uint16_t TagGroup(uint32_t tag) { return static_cast<uint16_t>(tag >> 16); }
constexpr uint16_t TagElement(uint32_t tag) { return static_cast<uint16_t>(tag & 0xFFFF); }

namespace tags {
inline constexpr uint32_t kFileMetaGroupLength = 0x00020000;
inline constexpr uint32_t kTransferSyntaxUid = 0x00020010;
inline constexpr uint32_t kSpecificCharacterSet = 0x00080005;
inline constexpr uint32_t kSopClassUid = 0x00080016;
inline constexpr uint32_t kModality = 0x00080060;
inline constexpr uint32_t kOverlayOrigin = 0x60000050;
inline constexpr uint32_t kRedPaletteDescriptor = 0x00281101;
inline constexpr uint32_t kPixelData = 0x7FE00010;
inline constexpr uint32_t kItem = 0xFFFEE000;
inline constexpr uint32_t kItemDelimitation = 0xFFFEE00D;
inline constexpr uint32_t kSequenceDelimitation = 0xFFFEE0DD;
}  // namespace tags

}  // namespace vexel
