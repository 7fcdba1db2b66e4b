// Code-page conversion through iconv. Code pages are numbered as the Windows code pages
// the character set table uses (28591 ISO 8859-1, 932 Shift JIS, 65001 UTF-8 and so on).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vexel {

// iconv name of a code page; null when the number is not one we convert.
const char* IconvNameOfCodePage(uint32_t codePage);

// Converts bytes in the code page to UTF-8. Bytes the converter cannot map become U+FFFD;
// an unknown code page is treated as ISO 8859-1. Never fails.
std::string ConvertToUtf8(std::string_view bytes, uint32_t codePage);

// Converts UTF-8 to the code page (ISO 8859-1 when unknown); characters that cannot be
// mapped, and bytes that are not UTF-8, become '?'.
std::string ConvertFromUtf8(std::string_view utf8, uint32_t codePage);

}  // namespace vexel
