// Text helpers of the study model: value padding, case-insensitive name order and the name
// form shown in rows.
#pragma once

#include <string>
#include <string_view>

namespace vexel {

// Drops the trailing spaces and NULs that pad DICOM values to even length (PS3.5 6.2).
std::string TrimPadding(std::string_view value);

// Three-way comparison of UTF-8 texts ignoring letter case (Latin, Greek and Cyrillic
// letters); bytes that are not valid UTF-8 compare as Latin-1 characters.
int CompareIgnoringCase(std::string_view a, std::string_view b);

// Person names as rows show them: trailing spaces and '^' removed, then each '^' a space.
std::string DisplayPersonName(std::string_view name);

}  // namespace vexel
