#include "volume/plane_geometry.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "dicom/dicom_file.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"

namespace vexel {
namespace {

constexpr uint32_t kStudyInstanceUid = 0x0020000D;
constexpr uint32_t kFrameOfReferenceUid = 0x00200052;
// Planes closer to parallel than this cosine cut each other too obliquely for a useful line.
constexpr double kParallelCosine = 0.86;
// Crossings closer than this are one point (a corner lying in the plane meets two edges).
constexpr double kSamePointMm = 1e-4;

Vector3 operator-(const Vector3& a, const Vector3& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vector3 operator+(const Vector3& a, const Vector3& b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
Vector3 operator*(const Vector3& a, double s) {
    return {a[0] * s, a[1] * s, a[2] * s};
}
double Dot(const Vector3& a, const Vector3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
Vector3 Cross(const Vector3& a, const Vector3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double Length(const Vector3& a) {
    return std::sqrt(Dot(a, a));
}

std::optional<Vector3> Unit(const Vector3& a) {
    const double length = Length(a);
    if (!std::isfinite(length) || length < 1e-6) return std::nullopt;
    return a * (1.0 / length);
}

// The part of the segment over the target image (Liang-Barsky): a line beyond the image would
// otherwise be drawn beside it, where it seems to cross what is shown.
std::optional<std::pair<ImagePoint, ImagePoint>> ClipToImage(std::array<double, 2> a,
                                                             std::array<double, 2> b,
                                                             const PlaneGeometry& target) {
    const double dx = b[0] - a[0], dy = b[1] - a[1];
    double enter = 0, leave = 1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a[0], double(target.columns) - a[0], a[1], double(target.rows) - a[1]};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return std::nullopt;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            enter = std::max(enter, t);
        else
            leave = std::min(leave, t);
    }
    if (enter >= leave) return std::nullopt;
    return std::pair(ImagePoint{float(a[0] + enter * dx), float(a[1] + enter * dy)},
                     ImagePoint{float(a[0] + leave * dx), float(a[1] + leave * dy)});
}

}  // namespace

std::optional<PlaneGeometry> PlaneOf(CDicomFrame& frame) {
    const auto& position = frame.Position();
    const auto& orientation = frame.Orientation();
    float spacing[2] = {0, 0};
    if (!position || !orientation || !frame.Image().PixelSpacing(spacing)) return std::nullopt;
    if (frame.Rows() == 0 || frame.Columns() == 0) return std::nullopt;
    const auto& o = *orientation;
    const auto row = Unit({o[0], o[1], o[2]});
    const auto column = Unit({o[3], o[4], o[5]});
    if (!row || !column) return std::nullopt;
    PlaneGeometry plane;
    plane.position = {(*position)[0], (*position)[1], (*position)[2]};
    for (const double value : plane.position)
        if (!std::isfinite(value)) return std::nullopt;
    plane.row = *row;
    plane.column = *column;
    plane.rowSpacing = spacing[0];
    plane.columnSpacing = spacing[1];
    plane.rows = frame.Rows();
    plane.columns = frame.Columns();
    CDicomFile& file = frame.Image().File();
    plane.studyUid = file.String(kStudyInstanceUid);
    plane.frameOfReferenceUid = file.String(kFrameOfReferenceUid);
    return plane;
}

bool SamePatientSpace(const PlaneGeometry& a, const PlaneGeometry& b) {
    return !a.frameOfReferenceUid.empty() && a.frameOfReferenceUid == b.frameOfReferenceUid &&
           a.studyUid == b.studyUid;
}

std::optional<std::pair<ImagePoint, ImagePoint>> ReferenceLine(const PlaneGeometry& source,
                                                               const PlaneGeometry& target) {
    if (!SamePatientSpace(source, target)) return std::nullopt;
    const Vector3 sourceNormal = Cross(source.row, source.column);
    const Vector3 targetNormal = Cross(target.row, target.column);
    const double cosine =
        Dot(sourceNormal, targetNormal) / (Length(sourceNormal) * Length(targetNormal));
    if (!std::isfinite(cosine) || std::abs(cosine) > kParallelCosine) return std::nullopt;

    // The image's outer corners: half a pixel out from the centres of the corner pixels.
    const Vector3 across = source.row * (double(source.columns) * source.columnSpacing);
    const Vector3 down = source.column * (double(source.rows) * source.rowSpacing);
    const Vector3 topLeft = source.position - source.row * (0.5 * source.columnSpacing) -
                            source.column * (0.5 * source.rowSpacing);
    const Vector3 corners[4] = {topLeft, topLeft + across, topLeft + across + down, topLeft + down};
    struct Local {
        double x, y, z;
    };
    Local local[4];
    for (int i = 0; i < 4; ++i) {
        const Vector3 d = corners[i] - target.position;
        local[i] = {Dot(d, target.row), Dot(d, target.column), Dot(d, targetNormal)};
    }
    std::vector<Local> crossings;
    for (int i = 0; i < 4; ++i) {
        const Local& a = local[i];
        const Local& b = local[(i + 1) % 4];
        if (!((a.z >= 0 && b.z <= 0) || (a.z <= 0 && b.z >= 0))) continue;
        const double sum = std::abs(a.z) + std::abs(b.z);
        const double t = sum > 0 ? std::abs(a.z) / sum : 0;
        const Local p{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, 0};
        bool known = false;
        for (const Local& q : crossings)
            known |= std::hypot(p.x - q.x, p.y - q.y) < kSamePointMm;
        if (!known) crossings.push_back(p);
    }
    if (crossings.size() < 2) return std::nullopt;
    // A plane through two opposite corners crosses all four edges: the ends are the two
    // crossings farthest apart.
    size_t first = 0, second = 1;
    double widest = -1;
    for (size_t i = 0; i < crossings.size(); ++i) {
        for (size_t j = i + 1; j < crossings.size(); ++j) {
            const double distance =
                std::hypot(crossings[i].x - crossings[j].x, crossings[i].y - crossings[j].y);
            if (distance > widest) {
                widest = distance;
                first = i;
                second = j;
            }
        }
    }
    const auto toImage = [&](const Local& p) {
        return std::array<double, 2>{p.x / target.columnSpacing + 0.5,
                                     p.y / target.rowSpacing + 0.5};
    };
    return ClipToImage(toImage(crossings[first]), toImage(crossings[second]), target);
}

}  // namespace vexel
