// The texts of the on-image annotations, computed from values alone so that each rule can be
// checked on its own: orientation letters, slice and C-arm line, date and age, window,
// transform and image lines.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "dicom/dicom_date_time.h"
#include "viewer/viewer_texts.h"

namespace vexel {

// Looks `id` up, falling back to the built-in English when the text is missing or its
// conversions differ from the English ones (a translated format can never crash printf).
std::string FormatCheckedText(const TextLookup& lookup, uint32_t id);
// The same check for texts of other layers: `text`, or `english` when the conversions differ.
std::string CheckedFormat(const std::string& text, const std::string& english);
std::string LookUpText(const TextLookup& lookup, uint32_t id);

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
// printf into a string of at most 255 bytes; only with literal formats or formats that
// FormatCheckedText passed.
template <typename... Args>
std::string FormatText(const std::string& format, Args... args) {
    char buffer[256];
    const int n = std::snprintf(buffer, sizeof buffer, format.c_str(), args...);
    if (n < 0) return {};
    return std::string(buffer, std::min<size_t>(size_t(n), sizeof buffer - 1));
}
#pragma GCC diagnostic pop

struct DisplayTransform {
    uint32_t rotation = 0;  // degrees clockwise
    bool horizontalMirror = false;
    bool verticalMirror = false;
};

struct EdgeLabels {
    std::string left, right, top, bottom;
    uint32_t sliceAxis = 2;  // the patient axis the slice location is measured along
};

// Letters in the order L, R, S, I, A, P.
using OrientationLetters = std::array<std::string, 6>;

// Image Orientation (Patient) row then column direction, as shown on screen.
EdgeLabels OrientationLabels(const std::array<float, 6>& orientation,
                             const DisplayTransform& transform, const OrientationLetters& letters);

struct CArmAngles {
    float primary = 0;    // Positioner Primary Angle: + left anterior oblique
    float secondary = 0;  // Positioner Secondary Angle: + cranial
};

// Thickness and location (when there is a position), then the C-arm angles.
std::string SliceLine(const TextLookup& lookup, const std::optional<std::array<float, 3>>& position,
                      std::optional<float> thickness, uint32_t sliceAxis,
                      std::optional<CArmAngles> angles);

// In the process's date and time formats (LC_TIME); unreadable values are shown as written.
std::string FormatDate(std::string_view dicomDate);
std::string FormatTime(std::string_view dicomTime);
// Whole years from birth to `on`; nothing when either is missing or birth comes later.
std::optional<int32_t> AgeInYears(std::string_view birthDate, std::string_view on);

std::string WindowLine(const TextLookup& lookup, float centre, float width, int32_t presetId,
                       std::string_view presetName, bool negative);
std::string TransformLine(const TextLookup& lookup, const DisplayTransform& transform);
// "Im: i/n", with " Fr: f/m" for an image of several frames (both counted from 1).
std::string MrLine(const TextLookup& lookup, float repetitionTime, float echoTime);
std::string PositionText(const TextLookup& lookup, int32_t x, int32_t y);
// Rounded to the nearest whole frame per second.
std::string FrameRateText(const TextLookup& lookup, float rate);
std::string ImageLine(const TextLookup& lookup, size_t index, size_t count, size_t frame,
                      size_t frames);

}  // namespace vexel
