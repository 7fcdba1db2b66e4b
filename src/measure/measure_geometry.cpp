#include "measure/measure_geometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vexel {
namespace {

struct Vector {
    double x = 0;
    double y = 0;
};

// From a to b, in millimetres when calibrated.
Vector Between(ImagePoint a, ImagePoint b, const Calibration& calibration) {
    Vector v{double(b.x) - a.x, double(b.y) - a.y};
    if (calibration.Valid()) {
        v.x *= calibration.columnMm;
        v.y *= calibration.rowMm;
    }
    return v;
}

double Norm(Vector v) {
    return std::hypot(v.x, v.y);
}

// The angle between two vectors of positive length, in degrees.
double DegreesBetween(Vector u, Vector v) {
    const double c = (u.x * v.x + u.y * v.y) / (Norm(u) * Norm(v));
    return std::acos(std::clamp(c, -1.0, 1.0)) * 180 / std::numbers::pi;
}

bool Usable(Vector v) {
    const double n = Norm(v);
    return std::isfinite(n) && n > 0;
}

// x positive; a vertical line points down (+y in image coordinates).
Vector Oriented(Vector v) {
    if (v.x < 0 || (v.x == 0 && v.y < 0)) return {-v.x, -v.y};
    return v;
}

}  // namespace

double DistanceToSegment(ImagePoint p, ImagePoint a, ImagePoint b) {
    const double abx = double(b.x) - a.x, aby = double(b.y) - a.y;
    const double apx = double(p.x) - a.x, apy = double(p.y) - a.y;
    const double squared = abx * abx + aby * aby;
    const double t = squared > 0 ? (apx * abx + apy * aby) / squared : -1;
    if (t >= 0 && t <= 1) return std::fabs(abx * apy - aby * apx) / std::sqrt(squared);
    return std::min(std::hypot(apx, apy), std::hypot(double(p.x) - b.x, double(p.y) - b.y));
}

double LengthOf(ImagePoint a, ImagePoint b, const Calibration& calibration) {
    return Norm(Between(a, b, calibration));
}

std::optional<double> AngleAt(ImagePoint a, ImagePoint vertex, ImagePoint c,
                              const Calibration& calibration) {
    const Vector u = Between(vertex, a, calibration), v = Between(vertex, c, calibration);
    if (!Usable(u) || !Usable(v)) return std::nullopt;
    return DegreesBetween(u, v);
}

std::optional<CobbAngle> CobbAngleOf(ImagePoint p1, ImagePoint p2, ImagePoint p3, ImagePoint p4,
                                     const Calibration& calibration) {
    const Vector first = Between(p1, p2, calibration), second = Between(p3, p4, calibration);
    if (!Usable(first) || !Usable(second)) return std::nullopt;
    const Vector u = Oriented(first), v = Oriented(second);
    CobbAngle angle;
    angle.degrees = DegreesBetween(u, v);
    // The first line's end its orientation points to, then the second line's direction in
    // image coordinates.
    angle.auxiliaryStart = (u.x == first.x && u.y == first.y) ? p2 : p1;
    const bool secondKept = v.x == second.x && v.y == second.y;
    const float dx = secondKept ? p4.x - p3.x : p3.x - p4.x;
    const float dy = secondKept ? p4.y - p3.y : p3.y - p4.y;
    angle.auxiliaryEnd = {angle.auxiliaryStart.x + dx, angle.auxiliaryStart.y + dy};
    return angle;
}

}  // namespace vexel
