// Where a frame's plane lies in the patient: the centre of its first pixel, its row and
// column directions and pixel spacings, and what links it to other frames (study and frame of
// reference). Reference lines are drawn only between frames of one study and one frame of
// reference, whose coordinates mean the same points.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "viewer/view_geometry.h"

namespace vexel {

class CDicomFrame;

using Vector3 = std::array<double, 3>;

struct PlaneGeometry {
    Vector3 position{};        // centre of the first pixel, mm
    Vector3 row{};             // unit direction along a row (columns increase)
    Vector3 column{};          // unit direction down a column (rows increase)
    double rowSpacing = 0;     // mm between rows
    double columnSpacing = 0;  // mm between columns
    uint32_t rows = 0;
    uint32_t columns = 0;
    std::string studyUid;
    std::string frameOfReferenceUid;
};

// Nothing without a position, an orientation, a pixel spacing or a size.
std::optional<PlaneGeometry> PlaneOf(CDicomFrame& frame);

// Both in one study and one (named) frame of reference.
bool SamePatientSpace(const PlaneGeometry& a, const PlaneGeometry& b);

// The line where the source plane cuts the target image, in the target's image coordinates
// (a pixel's centre is at +0.5), cut to the target image; nothing when the planes are within
// about 31 degrees of parallel (either sense), do not meet within both images, or are not in
// one patient space.
std::optional<std::pair<ImagePoint, ImagePoint>> ReferenceLine(const PlaneGeometry& source,
                                                               const PlaneGeometry& target);

}  // namespace vexel
