// What the volume manager knows of a volume: a run of single-frame images of one series that
// share one orientation and matrix and lie on one straight line across the image plane.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vexel {

class CDicomFrame;

// Named by the normal n = row x column: the axis with the strictly largest |component|.
enum PlaneKind : int32_t {
    kPlaneNone = 0,
    kPlaneAxialFeet = 1,  // n.z > 0
    kPlaneAxialHead = 2,  // n.z < 0
    kPlaneCoronal = 3,
    kPlaneSagittalRight = 4,  // n.x < 0
    kPlaneSagittalLeft = 5,   // n.x > 0
    kPlaneOblique = 6,
};

// "axial", "coronal", "sagittal", "oblique" or "none".
const char* PlaneKindName(int32_t kind);

// Where a run of images was split: the distance between the two images on either side was
// more than twice the run's median step. Depths are along the volume's normal (mm).
struct VolumeGap {
    float fromDepth = 0;
    float toDepth = 0;
    float size = 0;  // distance between the two positions
};

struct VolumeRecord {
    uint32_t viewportId = 0;
    std::string seriesInstanceUid;
    std::string studyInstanceUid;
    std::string frameOfReferenceUid;  // empty when absent: such a volume is never linked
    int32_t planeKind = kPlaneNone;
    std::array<float, 6> orientation{};  // of the first image listed: row, then column
    float spacing = 0;                   // between the positions of the first two images
    // Angle between the steps and the normal; 0 when the steps are perpendicular to the
    // plane (a CT gantry tilt leaves them slanted).
    float tiltDegrees = 0;
    int32_t imageCount = 0;
    // Ascending signed distance along the normal, whatever the order they were listed in.
    std::vector<CDicomFrame*> images;
    // Gaps that ended this volume (or, when the images before a gap formed no volume, the
    // gap that starts it).
    std::vector<VolumeGap> gaps;
};

struct VolumePair {
    std::string partnerKey;
    uint32_t partnerViewportId = 0;
    // Half the sum of both slice thicknesses minus the distance between the slices along
    // the first image's normal; positive when the slabs overlap.
    float margin = 0;
    CDicomFrame* partnerFrame = nullptr;  // valid while the partner's volumes are
};

}  // namespace vexel
