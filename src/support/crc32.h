// CRC-32 as in zlib and PNG (reflected, polynomial 0xEDB88320, initial value and final
// complement 0xFFFFFFFF): the check value translation files carry for each English text.
#pragma once

#include <cstdint>
#include <string_view>

namespace vexel {

uint32_t Crc32(std::string_view bytes);

}  // namespace vexel
