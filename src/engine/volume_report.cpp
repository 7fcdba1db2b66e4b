#include "engine/volume_report.h"

#include <algorithm>

#include "engine/volume_geometry.h"
#include "imaging/dicom_frame.h"

namespace vexel {

VolumeGeometryReport ReportVolumeGeometry(const VolumeRecord& volume) {
    VolumeGeometryReport report;
    report.seriesInstanceUid = volume.seriesInstanceUid;
    report.planeKind = volume.planeKind;
    report.imageCount = int32_t(volume.images.size());
    report.gaps = volume.gaps;
    report.tiltDegrees = volume.tiltDegrees;
    report.frameOfReferenceUid = volume.frameOfReferenceUid;
    std::vector<double> steps;
    for (size_t i = 0; i + 1 < volume.images.size(); ++i) {
        const auto& a = *volume.images[i]->Position();
        const auto& b = *volume.images[i + 1]->Position();
        steps.push_back(Length(Sub({b[0], b[1], b[2]}, {a[0], a[1], a[2]})));
    }
    if (steps.empty()) return report;
    std::sort(steps.begin(), steps.end());
    const size_t n = steps.size();
    report.spacing.minimum = float(steps.front());
    report.spacing.maximum = float(steps.back());
    report.spacing.median = float(n % 2 ? steps[n / 2] : (steps[n / 2 - 1] + steps[n / 2]) / 2);
    return report;
}

}  // namespace vexel
