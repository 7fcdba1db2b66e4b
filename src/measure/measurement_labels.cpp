#include "measure/measurement_labels.h"

#include <cmath>

#include "viewer/annotation_texts.h"

namespace vexel {
namespace {

std::string SourceLine(const Calibration& calibration) {
    return calibration.Valid() ? std::string("\n") + CalibrationSourceText(calibration.source)
                               : std::string();
}

}  // namespace

double AreaSquareMm(double areaPixels, const Calibration& calibration) {
    return calibration.Valid() ? areaPixels * calibration.rowMm * calibration.columnMm : 0;
}

std::string LengthLabel(double value, const Calibration& calibration, const TextLookup& texts) {
    if (!std::isfinite(value)) return {};
    const uint32_t unit = calibration.Valid() ? textid::kMillimetres : textid::kPixels;
    return FormatText("%.1f", value) + " " + LookUpText(texts, unit) + SourceLine(calibration);
}

std::string AngleLabel(std::optional<double> degrees, const TextLookup& texts) {
    if (!degrees || !std::isfinite(*degrees)) return {};
    return FormatText(FormatCheckedText(texts, textid::kDegrees), *degrees);
}

ValueUnits ValueUnitsOf(const SuvInfo& suv, const TextLookup& texts) {
    if (suv.state == SuvState::Activity) return {1, LookUpText(texts, textid::kBqPerMl)};
    if (suv.state != SuvState::Suv) return {};
    const std::string name =
        suv.suvType == "BW" ? LookUpText(texts, textid::kSuvBw) : SuvUnitText(suv);
    const std::string per = suv.units == "CM2ML" ? "cm\u00b2/ml" : LookUpText(texts, textid::kGramsPerMl);
    return {suv.factor, name + " (" + per + ")"};
}

std::string EllipseLabel(const EllipseStatistics& raw, const Calibration& calibration,
                         bool colour, bool interpolated, const TextLookup& texts,
                         const ValueUnits& units, bool fused) {
    std::string label;
    if (fused || !units.line.empty()) label = (fused ? "[F] " : "") + units.line + "\n";
    EllipseStatistics stats = raw;
    stats.mean = float(stats.mean * units.factor);
    stats.minimum = float(stats.minimum * units.factor);
    stats.maximum = float(stats.maximum * units.factor);
    if (!colour && stats.pixelCount > 0) {
        const bool whole = units.factor == 1 && std::floor(stats.minimum) == stats.minimum &&
                           std::floor(stats.maximum) == stats.maximum;
        const char* format = whole ? "%.0f" : "%.2f";
        // Approximately, at least and at most on interpolated frames.
        const std::string equal = "=";
        const std::string mean = interpolated ? "\u2248" : equal;
        const std::string max = interpolated ? "\u2265" : equal;
        const std::string min = interpolated ? "\u2264" : equal;
        label += LookUpText(texts, textid::kMean) + mean + FormatText("%.2f", stats.mean) + "\n";
        label += LookUpText(texts, textid::kMax) + max + FormatText(format, stats.maximum) + " " +
                 LookUpText(texts, textid::kMin) + min + FormatText(format, stats.minimum) + "\n";
    }
    const std::string area = LookUpText(texts, textid::kArea) + "=";
    const std::string pixels = " " + LookUpText(texts, textid::kSquarePixels);
    if (calibration.Valid()) {
        label += area + FormatText("%.1f", AreaSquareMm(stats.areaPixels, calibration) / 100) + " " +
                 LookUpText(texts, textid::kSquareCm) + " (" +
                 FormatText("%.0f", stats.areaPixels) + pixels + ")" + SourceLine(calibration);
    } else {
        label += area + FormatText("%.0f", stats.areaPixels) + pixels;
    }
    if (interpolated) label += "\n\n" + LookUpText(texts, textid::kInterpolatedWarning);
    return label;
}

}  // namespace vexel
