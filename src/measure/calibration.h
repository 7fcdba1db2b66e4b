// What a measurement in millimetres is calibrated against. Pixel Spacing gives millimetres in
// the patient; without it, projection radiographs give Imager Pixel Spacing, millimetres at
// the detector, which the estimated magnification brings back to the patient when present.
#pragma once

#include <cstdint>

namespace vexel {

class CDicomImage;

enum class CalibrationSource : uint32_t {
    None,                     // measured in pixels
    PixelSpacing,             // (0028,0030)
    ImagerPixelSpacing,       // (0018,1164), at the detector
    ImagerPixelSpacingScaled  // (0018,1164) / (0018,1114)
};

struct Calibration {
    double rowMm = 0;     // between rows (y)
    double columnMm = 0;  // between columns (x)
    CalibrationSource source = CalibrationSource::None;
    bool Valid() const { return source != CalibrationSource::None; }
};

Calibration CalibrationOf(CDicomImage& image);

// The source as a label's second line names it; empty for None.
const char* CalibrationSourceText(CalibrationSource source);

}  // namespace vexel
