#include "viewer/annotation_texts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace vexel {
namespace {

// The conversions of a printf format, in order ("%d%.1f" -> "df").
std::string Conversions(std::string_view format) {
    std::string kinds;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        size_t j = i + 1;
        while (j < format.size() &&
               std::string_view("0123456789.-+ #lh").find(format[j]) != std::string_view::npos) {
            ++j;
        }
        if (j >= format.size()) return "?";
        if (format[j] != '%') kinds += format.substr(i + 1, j - i);
        i = j;
    }
    return kinds;
}

// Half away from zero, as the sign of an angle is decided.
double RoundAway(double value) {
    return std::round(value);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
// The locale's own date format, whatever it does with the year.
std::string DateText(const std::tm& tm) {
    char buffer[64];
    return std::string(buffer, std::strftime(buffer, sizeof buffer, "%x", &tm));
}
#pragma GCC diagnostic pop

std::string TimeText(const std::tm& tm) {
    char buffer[64];
    return std::string(buffer, std::strftime(buffer, sizeof buffer, "%X", &tm));
}

}  // namespace

std::string LookUpText(const TextLookup& lookup, uint32_t id) {
    if (lookup) {
        std::string text = lookup(id);
        if (!text.empty()) return text;
    }
    return BuiltInViewerText(id);
}

std::string FormatCheckedText(const TextLookup& lookup, uint32_t id) {
    return CheckedFormat(LookUpText(lookup, id), BuiltInViewerText(id));
}

std::string CheckedFormat(const std::string& text, const std::string& english) {
    return Conversions(text) == Conversions(english) ? text : english;
}

EdgeLabels OrientationLabels(const std::array<float, 6>& orientation,
                             const DisplayTransform& transform, const OrientationLetters& letters) {
    using Vec = std::array<float, 3>;
    const auto negate = [](const Vec& v) { return Vec{-v[0], -v[1], -v[2]}; };
    Vec r{orientation[0], orientation[1], orientation[2]};
    Vec c{orientation[3], orientation[4], orientation[5]};
    // As displayed: mirrors first, then the clockwise rotation.
    if (transform.horizontalMirror) r = negate(r);
    if (transform.verticalMirror) c = negate(c);
    if (transform.rotation == 90) std::tie(r, c) = std::pair(negate(c), r);
    if (transform.rotation == 180) std::tie(r, c) = std::pair(negate(r), negate(c));
    if (transform.rotation == 270) std::tie(r, c) = std::pair(c, negate(r));

    constexpr float kThreshold = 0.382683432f;  // sin 22.5 degrees
    // Letter pairs (towards, away) per patient axis: x left, y posterior, z head.
    const std::string* towards[3] = {&letters[0], &letters[5], &letters[2]};
    const std::string* away[3] = {&letters[1], &letters[4], &letters[3]};
    const auto label = [&](const Vec& v, std::string& to, std::string& from) {
        std::array<uint32_t, 3> axes{0, 1, 2};
        std::stable_sort(axes.begin(), axes.end(),
                         [&](uint32_t a, uint32_t b) { return std::abs(v[a]) > std::abs(v[b]); });
        for (uint32_t axis : axes) {
            if (v[axis] > kThreshold) {
                to += *towards[axis];
                from += *away[axis];
            } else if (v[axis] < -kThreshold) {
                to += *away[axis];
                from += *towards[axis];
            }
        }
        return axes[0];
    };
    EdgeLabels labels;
    const uint32_t rowAxis = label(r, labels.right, labels.left);
    const uint32_t columnAxis = label(c, labels.bottom, labels.top);
    for (uint32_t axis = 0; axis < 3; ++axis) {
        if (axis != rowAxis && axis != columnAxis) {
            labels.sliceAxis = axis;
            break;
        }
    }
    return labels;
}

std::string SliceLine(const TextLookup& lookup, const std::optional<std::array<float, 3>>& position,
                      std::optional<float> thickness, uint32_t sliceAxis,
                      std::optional<CArmAngles> angles) {
    std::string line;
    if (position) {
        if (thickness && std::isfinite(*thickness)) {
            line =
                FormatText(FormatCheckedText(lookup, textid::kThickness), double(*thickness)) + " ";
        }
        line += FormatText(FormatCheckedText(lookup, textid::kLocation),
                           double((*position)[std::min<uint32_t>(sliceAxis, 2)]));
    }
    if (!angles || !std::isfinite(angles->primary) || !std::isfinite(angles->secondary))
        return line;
    // The number shown is the rounded value that chose the side, so 0.5 reads "LAO: 1".
    const double a = RoundAway(angles->primary);
    const double b = RoundAway(angles->secondary);
    if (a == 0 && b == 0) return "AP";
    if (!line.empty()) line += " ";
    if (a > 0) line += FormatText(std::string("LAO: %.0f "), a);
    if (a < 0) line += FormatText(std::string("RAO: %.0f "), -a);
    if (b > 0) line += FormatText(std::string("CRA: %.0f "), b);
    if (b < 0) line += FormatText(std::string("CAU: %.0f "), -b);
    return line;
}

std::string FormatDate(std::string_view dicomDate) {
    const auto date = ParseDicomDate(dicomDate);
    if (!date) return std::string(TrimDicomPadding(dicomDate));
    std::tm tm{};
    tm.tm_year = date->year - 1900;
    tm.tm_mon = date->month - 1;
    tm.tm_mday = date->day;
    return DateText(tm);
}

std::string FormatTime(std::string_view dicomTime) {
    const auto time = ParseDicomTime(dicomTime);
    if (!time) return std::string(TrimDicomPadding(dicomTime));
    std::tm tm{};
    tm.tm_hour = time->hour;
    tm.tm_min = time->minute;
    tm.tm_sec = time->second;
    return TimeText(tm);
}

std::optional<int32_t> AgeInYears(std::string_view birthDate, std::string_view on) {
    const auto birth = ParseDicomDate(birthDate);
    const auto date = ParseDicomDate(on);
    if (!birth || !date) return std::nullopt;
    int32_t years = date->year - birth->year;
    if (std::pair(date->month, date->day) < std::pair(birth->month, birth->day)) --years;
    if (years < 0) return std::nullopt;
    return years;
}

std::string WindowLine(const TextLookup& lookup, float centre, float width, int32_t presetId,
                       std::string_view presetName, bool negative) {
    std::string line =
        presetId < 0
            ? FormatText(FormatCheckedText(lookup, textid::kWindow), double(centre), double(width))
            : FormatText(FormatCheckedText(lookup, textid::kWindowPreset), double(centre),
                         double(width), std::string(presetName).c_str());
    if (negative) line += " " + LookUpText(lookup, textid::kNegative);
    return line;
}

std::string TransformLine(const TextLookup& lookup, const DisplayTransform& transform) {
    std::string line;
    const uint32_t rotationText = transform.rotation == 90    ? textid::kRotate90
                                  : transform.rotation == 180 ? textid::kRotate180
                                  : transform.rotation == 270 ? textid::kRotate270
                                                              : 0;
    if (rotationText != 0)
        line = LookUpText(lookup, textid::kRotation) + LookUpText(lookup, rotationText);
    if (transform.verticalMirror || transform.horizontalMirror) {
        if (!line.empty()) line += " ";
        line += LookUpText(lookup, textid::kFlip) +
                LookUpText(lookup, transform.verticalMirror ? textid::kFlipV : textid::kFlipH);
    }
    return line;
}

std::string MrLine(const TextLookup& lookup, float repetitionTime, float echoTime) {
    return FormatText(FormatCheckedText(lookup, textid::kMrLine), double(repetitionTime),
                      double(echoTime));
}

std::string PositionText(const TextLookup& lookup, int32_t x, int32_t y) {
    return FormatText(FormatCheckedText(lookup, textid::kPosition), int(x), int(y));
}

std::string FrameRateText(const TextLookup& lookup, float rate) {
    if (!std::isfinite(rate)) return {};
    return FormatText(FormatCheckedText(lookup, textid::kFrameRate),
                      int(std::lround(std::clamp(rate, 0.0f, 1e6f))));
}

std::string ImageLine(const TextLookup& lookup, size_t index, size_t count, size_t frame,
                      size_t frames) {
    std::string line = FormatText(FormatCheckedText(lookup, textid::kImageNumber),
                                  int(std::min<size_t>(index + 1, INT32_MAX)),
                                  int(std::min<size_t>(count, INT32_MAX)));
    if (frames > 1) {
        line += FormatText(std::string(" Fr: %d/%d"), int(std::min<size_t>(frame + 1, INT32_MAX)),
                           int(std::min<size_t>(frames, INT32_MAX)));
    }
    return line;
}

}  // namespace vexel
