// The labels measurements show, as the viewer draws them and `vexel measure` prints them.
// A value in millimetres or square centimetres names its calibration on a line of its own.
#pragma once

#include <optional>
#include <string>

#include "imaging/dicom_frame.h"
#include "measure/calibration.h"
#include "viewer/viewer_texts.h"

namespace vexel {

// "%.1f mm" (or px); empty when the value is not finite.
std::string LengthLabel(double value, const Calibration& calibration, const TextLookup& texts);
// "%.01f°"; empty for no angle.
std::string AngleLabel(std::optional<double> degrees, const TextLookup& texts);
// Mean, maximum and minimum (grey frames with pixels inside), then the area; relation
// characters and a warning on interpolated frames.
std::string EllipseLabel(const EllipseStatistics& stats, const Calibration& calibration,
                         bool colour, bool interpolated, const TextLookup& texts);

// Square millimetres of a pixel area; 0 without a calibration.
double AreaSquareMm(double areaPixels, const Calibration& calibration);

}  // namespace vexel
