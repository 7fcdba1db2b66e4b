// Specific Character Set (0008,0005) and the decoding of text values to UTF-8.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dicom/vr.h"

namespace vexel {

struct CharacterSetEntry {
    uint32_t id;              // equals the index in the table
    const char* definedTerm;  // null for entry 0
    const char* escape;       // the bytes after ESC that designate the set; null when none
    uint32_t skipEscape;      // 1: drop the escape sequence before conversion
    uint32_t codePage;        // converter number, see platform/code_page.h
};

// Ids 0 to 29 are fixed; 30 and up were added later.
inline constexpr uint16_t kCharacterSetGbk = 30;
inline constexpr uint16_t kCharacterSetIso2022Ir58 = 31;

std::span<const CharacterSetEntry> CharacterSetTable();

// Id of a defined term after normalising common variant spellings; 0 when unknown.
uint32_t CharacterSetIdOf(std::string_view definedTerm);

// Ids of every declared value of Specific Character Set, in order. A missing or empty value
// gives {1} (default repertoire); an empty first value (code extensions) gives 1 first;
// an unknown term gives the id of ISO 8859-1.
std::vector<uint16_t> ParseSpecificCharacterSet(std::string_view value);

// Converts raw text bytes to UTF-8 with the declared sets (ids as ParseSpecificCharacterSet
// gives them; empty means the default repertoire), honouring ISO 2022 escape sequences.
// vr selects where designations return to the initial sets (PN component delimiters, value
// delimiters). Trailing padding (blanks and NULs) is dropped; bytes that cannot be decoded
// become U+FFFD.
std::string DecodeText(std::string_view raw, std::span<const uint16_t> ids, VrCode vr);

}  // namespace vexel
