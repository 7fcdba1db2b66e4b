// The geometry of the volumes found in a series, as `vexel mpr` reports it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/volume_record.h"

namespace vexel {

struct SpacingSummary {
    float minimum = 0;  // distances between the positions of successive images, mm
    float median = 0;
    float maximum = 0;
};

struct VolumeGeometryReport {
    std::string seriesInstanceUid;
    int32_t planeKind = kPlaneNone;
    int32_t imageCount = 0;
    SpacingSummary spacing;
    std::vector<VolumeGap> gaps;
    float tiltDegrees = 0;
    std::string frameOfReferenceUid;
};

VolumeGeometryReport ReportVolumeGeometry(const VolumeRecord& volume);

}  // namespace vexel
