#include "measure/calibration.h"

#include <cmath>
#include <string>

#include "dicom/dicom_file.h"
#include "imaging/dicom_image.h"

namespace vexel {
namespace {

// The modalities whose images are projections onto a detector.
bool ProjectionModality(const std::string& modality) {
    for (const char* name : {"CR", "DX", "MG", "XA", "RF"}) {
        if (modality == name) return true;
    }
    return false;
}

bool Usable(double mm) {
    return std::isfinite(mm) && mm > 0 && mm <= 1000;
}

}  // namespace

Calibration CalibrationOf(CDicomImage& image) {
    Calibration calibration;
    float spacing[2];
    if (image.PixelSpacing(spacing)) {
        return {spacing[0], spacing[1], CalibrationSource::PixelSpacing};
    }
    CDicomFile& file = image.File();
    std::string modality = file.Text(0x00080060);
    while (!modality.empty() && modality.back() == ' ') modality.pop_back();
    if (!ProjectionModality(modality) || !file.FloatArray(0x00181164, spacing, 2) ||
        !Usable(spacing[0]) || !Usable(spacing[1])) {
        return calibration;
    }
    calibration = {spacing[0], spacing[1], CalibrationSource::ImagerPixelSpacing};
    if (file.FindElement(0x00181114) != nullptr) {
        const double magnification = file.Float(0x00181114, NAN);
        // A factor below 1 would mean the patient is larger than the shadow: not credible.
        if (std::isfinite(magnification) && magnification >= 1 && magnification <= 10) {
            calibration.rowMm /= magnification;
            calibration.columnMm /= magnification;
            calibration.source = CalibrationSource::ImagerPixelSpacingScaled;
        }
    }
    return calibration;
}

const char* CalibrationSourceText(CalibrationSource source) {
    switch (source) {
        case CalibrationSource::PixelSpacing:
            return "Pixel Spacing";
        case CalibrationSource::ImagerPixelSpacing:
            return "Imager Pixel Spacing (detector)";
        case CalibrationSource::ImagerPixelSpacingScaled:
            return "Imager Pixel Spacing / magnification";
        default:
            return "";
    }
}

}  // namespace vexel
