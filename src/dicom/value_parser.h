// Turning stored value bytes into counts and numbers, and the text-number conversions that
// must not depend on the user's locale (a decimal comma must never turn 0.5 into 0).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dicom/dicom_element.h"

namespace vexel {

// Stores raw (a guarded block of element.length + 1 bytes, NUL last, or null) as the
// element's value: releases the old arrays, counts the values, parses DS and IS, and swaps
// binary values into machine order when bigEndian is set. The element's value record must
// exist when raw is given (the file makes it); without one raw is freed and nothing kept.
void ParseValue(CDicomElement& element, uint8_t* raw, bool bigEndian);
void ReleaseValue(DicomValue& value);

// Parsed DS and IS components that could not be read hold these markers.
inline constexpr int32_t kInvalidInteger = INT32_MIN;
bool IsValidFloat(float value);

// One DS or IS component with optional blanks around it; nothing else is accepted.
std::optional<double> ParseDecimal(std::string_view text);
std::optional<int32_t> ParseInteger(std::string_view text);

// "%f" and "%G" as the C locale writes them.
std::string FormatFixed(double value);
std::string FormatGeneral(double value);

// Number of backslash-separated values of a text value; 0 for an empty one.
uint32_t CountTextValues(std::string_view text);

// Byte order helpers for values read from big-endian files.
void SwapUnits(uint8_t* data, size_t length, int unitSize);

}  // namespace vexel
