// Text made safe for one line of a listing: whatever a file holds, the cell shows one line
// that reads in the order it is stored, and never more than a bounded number of characters.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vexel {

// Tab, line and page breaks become blanks; other control characters (C0, DEL, C1), the
// bidirectional embeddings, overrides and isolates (U+202A-U+202E, U+2066-U+2069) and bytes
// that are not UTF-8 become U+FFFD. The marks U+200E and U+200F stay: they cannot reorder
// strong text, and right-to-left names need them.
std::string SafeDisplayText(std::string_view utf8);

// Cuts text after maxChars characters, never inside a UTF-8 sequence; true when it cut.
bool CapCharacters(std::string& text, size_t maxChars);

}  // namespace vexel
