// The labels measurements show, as the viewer draws them and `vexel measure` prints them.
// A value in millimetres or square centimetres names its calibration on a line of its own.
#pragma once

#include <optional>
#include <string>

#include "imaging/dicom_frame.h"
#include "imaging/pet_suv.h"
#include "measure/calibration.h"
#include "viewer/viewer_texts.h"

namespace vexel {

// "%.1f mm" (or px); empty when the value is not finite.
std::string LengthLabel(double value, const Calibration& calibration, const TextLookup& texts);
// "%.01f°"; empty for no angle.
std::string AngleLabel(std::optional<double> degrees, const TextLookup& texts);
// What an ellipse's values are in: PET values become SUV (times the factor) under the line
// "SUVbw (g/ml)", or stay in Bq/ml under "Bq/ml"; other values have no line.
struct ValueUnits {
    double factor = 1;
    std::string line;
};
ValueUnits ValueUnitsOf(const SuvInfo& suv, const TextLookup& texts);

// The unit line ("[F] " first for values of a fused series), mean, maximum and minimum (grey
// frames with pixels inside), then the area; relation characters and a warning on
// interpolated frames.
std::string EllipseLabel(const EllipseStatistics& stats, const Calibration& calibration,
                         bool colour, bool interpolated, const TextLookup& texts,
                         const ValueUnits& units = {}, bool fused = false);

// Square millimetres of a pixel area; 0 without a calibration.
double AreaSquareMm(double areaPixels, const Calibration& calibration);

}  // namespace vexel
