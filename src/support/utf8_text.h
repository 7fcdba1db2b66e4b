// UTF-8 checks for texts that come from files.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vexel {

// Well-formed UTF-8 only: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

// The longest prefix of at most maxCharacters code points, and at most maxBytes bytes,
// that does not split a character. The text must be valid UTF-8.
std::string CutUtf8(std::string_view text, size_t maxCharacters, size_t maxBytes);

}  // namespace vexel
