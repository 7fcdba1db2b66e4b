// The numbers behind the measurements, in image coordinates (column, row; the centre of the
// first pixel is 0.5, 0.5). With a valid calibration, distances and angles are taken in
// millimetres (x times the column spacing, y times the row spacing), so an angle on an image
// with unequal spacings is the angle in the patient, not on the pixel grid.
#pragma once

#include <optional>

#include "measure/calibration.h"
#include "viewer/view_geometry.h"

namespace vexel {

// Euclidean distance from p to the segment ab, in the points' own units.
double DistanceToSegment(ImagePoint p, ImagePoint a, ImagePoint b);

// In millimetres with a valid calibration, else in pixels.
double LengthOf(ImagePoint a, ImagePoint b, const Calibration& calibration);

// The angle at `vertex` between the arms to a and c, 0..180 degrees; none when an arm has no
// length or a coordinate is not finite.
std::optional<double> AngleAt(ImagePoint a, ImagePoint vertex, ImagePoint c,
                              const Calibration& calibration);

// The Cobb angle between the lines p1-p2 and p3-p4. Each line is oriented so that its x
// component is positive (a vertical line points down); the angle between the oriented lines
// lies in [0, 180), so a scoliosis beyond 90 degrees reads as such whichever way the lines
// were drawn. The auxiliary segment starts at the end the first line's orientation points to
// and runs along the second line's orientation for its length.
struct CobbAngle {
    double degrees = 0;
    ImagePoint auxiliaryStart;
    ImagePoint auxiliaryEnd;
};
std::optional<CobbAngle> CobbAngleOf(ImagePoint p1, ImagePoint p2, ImagePoint p3, ImagePoint p4,
                                     const Calibration& calibration);

}  // namespace vexel
