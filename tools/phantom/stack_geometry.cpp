// Where each slice and pixel of a geometry series sits, the order its files are written in,
// and the checks that keep the options writable.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "phantom/geometry_series.h"

namespace vexel::phantom {

namespace {

double Length(const Vec3& v) {
    return std::sqrt(Dot(v, v));
}

Vec3 Unit(const Vec3& v) {
    return (1 / Length(v)) * v;
}

bool Finite(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

constexpr int kMaxSlices = 9999;

// Empty when the count is out of range, so nothing huge is allocated before the checks.
std::vector<double> Offsets(const GeometrySeriesOptions& options) {
    if (options.sliceOffsetsMm.size() > size_t(kMaxSlices)) return {};
    if (!options.sliceOffsetsMm.empty()) return options.sliceOffsetsMm;
    std::vector<double> offsets(size_t(std::clamp(options.slices, 0, kMaxSlices)));
    for (size_t k = 0; k < offsets.size(); ++k)
        offsets[k] = double(k) * options.sliceSpacingMm;
    return offsets;
}

Vec3 StackFor(const GeometrySeriesOptions& options, const Vec3& normal, const Vec3& column) {
    if (Length(options.stackDirection) > 0) return Unit(options.stackDirection);
    const double tilt = options.gantryTiltDegrees * std::numbers::pi / 180;
    return Unit(std::cos(tilt) * normal + std::sin(tilt) * column);
}

bool IsUidText(const std::string& uid) {
    return !uid.empty() && uid.size() <= 64 && std::all_of(uid.begin(), uid.end(), [](char c) {
        return c == '.' || (c >= '0' && c <= '9');
    });
}

// File names are <prefix>0001.dcm inside the series folder: nothing that leaves it.
bool IsSafePrefix(const std::string& prefix) {
    return !prefix.empty() && prefix.size() <= 16 &&
           std::all_of(prefix.begin(), prefix.end(), [](char c) {
               return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-';
           });
}

const char* ContentProblem(const GeometryContent& content) {
    if (!std::isfinite(content.background)) return "background must be finite";
    if (content.ramp &&
        (content.ramp->axis < 0 || content.ramp->axis > 2 || !std::isfinite(content.ramp->offset) ||
         !std::isfinite(content.ramp->slopePerMm)))
        return "ramp axis must be 0, 1 or 2 and its numbers finite";
    if (content.cube && (!Finite(content.cube->center) || !std::isfinite(content.cube->value) ||
                         !(content.cube->edgeMm > 0 && content.cube->edgeMm < 1e5)))
        return "cube edge must be positive and its numbers finite";
    for (const MarkerSphere& s : content.spheres)
        if (!Finite(s.center) || !std::isfinite(s.value) || !(s.radiusMm > 0 && s.radiusMm < 1e5))
            return "sphere radii must be positive and their numbers finite";
    return nullptr;
}

const char* GeometryProblem(const GeometrySeriesOptions& options) {
    if (options.columns < 2 || options.rows < 2 || options.columns > 8192 || options.rows > 8192)
        return "columns and rows must be between 2 and 8192";
    if (!(options.columnSpacingMm > 0 && options.columnSpacingMm < 100) ||
        !(options.rowSpacingMm > 0 && options.rowSpacingMm < 100) ||
        !(options.sliceSpacingMm > 0 && options.sliceSpacingMm < 100))
        return "spacings must be between 0 and 100 mm";
    const std::vector<double> offsets = Offsets(options);
    const bool tooMany = options.sliceOffsetsMm.empty() && options.slices > kMaxSlices;
    if (offsets.empty() || tooMany) return "slices must be 1 to 9999";
    for (size_t k = 0; k < offsets.size(); ++k) {
        if (!std::isfinite(offsets[k]) || std::abs(offsets[k]) > 1e5)
            return "slice offsets must be finite and within 100 m";
        if (k > 0 && !(offsets[k] > offsets[k - 1])) return "slice offsets must increase";
    }
    const Vec3 row = options.rowDirection, column = options.columnDirection;
    if (!Finite(row) || !Finite(column) || !Finite(options.stackDirection) ||
        !Finite(options.center) || Length(row) < 1e-6 || Length(column) < 1e-6)
        return "directions and centre must be finite, row and column directions non-zero";
    const double stackLength = Length(options.stackDirection);
    if (stackLength > 0 && stackLength < 1e-6)
        return "stack direction too short to give a direction";
    if (std::abs(Dot(Unit(row), Unit(column))) > 1e-4)
        return "row and column directions must be perpendicular";
    if (!(std::abs(options.gantryTiltDegrees) < 60)) return "gantry tilt must be under 60 degrees";
    const Vec3 normal = Cross(Unit(row), Unit(column));
    if (std::abs(Dot(StackFor(options, normal, Unit(column)), normal)) < 0.2)
        return "the stack direction must leave the image plane (under 78 degrees from the normal)";
    return nullptr;
}

const char* SeriesProblem(const GeometrySeriesOptions& options) {
    for (const Rescale& r : options.rescales)
        if (!std::isfinite(r.slope) || r.slope == 0 || !std::isfinite(r.intercept))
            return "rescale slopes must be non-zero and rescales finite";
    if ((options.sliceThicknessMm && !std::isfinite(*options.sliceThicknessMm)) ||
        (options.spacingBetweenSlicesMm && !std::isfinite(*options.spacingBetweenSlicesMm)))
        return "slice thickness and spacing between slices must be finite";
    if (options.seriesNumber < 1 || options.seriesNumber > 99999)
        return "series number must be 1 to 99999";
    // Longest UID we make: <root>.4.<series>.<instance up to 9999>.
    const std::string longest =
        options.uidRoot + ".4." + std::to_string(options.seriesNumber) + ".9999";
    if (!IsUidText(options.uidRoot) || !IsUidText(longest))
        return "UID root must be digits and dots, short enough for every UID";
    if (!options.frameOfReferenceUid.empty() && !IsUidText(options.frameOfReferenceUid))
        return "frame of reference UID must be up to 64 digits and dots";
    if (!IsSafePrefix(options.filePrefix))
        return "file prefix must be 1 to 16 letters, digits, '_' or '-'";
    if (options.description.size() > 64) return "description must be at most 64 characters";
    return nullptr;
}

}  // namespace

CStackGeometry::CStackGeometry(const GeometrySeriesOptions& options)
    : m_row(Unit(options.rowDirection)),
      m_column(Unit(options.columnDirection)),
      m_normal(Cross(m_row, m_column)),
      m_stack(StackFor(options, m_normal, m_column)),
      m_columnSpacing(options.columnSpacingMm),
      m_rowSpacing(options.rowSpacingMm),
      m_offsets(Offsets(options)) {
    if (m_offsets.empty()) m_offsets = {0};  // invalid options: one slice rather than none
    // The first pixel of offset 0 sits so that the middle of the sampled box is the centre.
    const double middle = (m_offsets.front() + m_offsets.back()) / 2;
    m_origin = options.center - ((options.columns - 1) / 2.0 * m_columnSpacing) * m_row -
               ((options.rows - 1) / 2.0 * m_rowSpacing) * m_column - middle * m_stack;
}

Vec3 CStackGeometry::PixelCenter(int slice, double column, double row) const {
    return SlicePosition(slice) + (column * m_columnSpacing) * m_row +
           (row * m_rowSpacing) * m_column;
}

bool ValidateGeometryOptions(const GeometrySeriesOptions& options, std::string* error) {
    const char* problem = GeometryProblem(options);
    if (!problem) problem = ContentProblem(options.content);
    if (!problem) problem = SeriesProblem(options);
    if (problem && error) *error = problem;
    return problem == nullptr;
}

std::vector<int> GeometryListing(const GeometrySeriesOptions& options) {
    std::vector<int> order(Offsets(options).size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = int(i);
    if (options.order == ListingOrder::kDescending) std::reverse(order.begin(), order.end());
    if (options.order != ListingOrder::kShuffled) return order;
    // Fisher-Yates over mt19937, whose sequence the standard fixes, so every platform
    // writes the same listing.
    std::mt19937 engine(options.shuffleSeed);
    for (size_t i = order.size(); i > 1; --i)
        std::swap(order[i - 1], order[engine() % i]);
    // A shuffle that came out sorted would test nothing.
    if (order.size() > 2 && (std::is_sorted(order.begin(), order.end()) ||
                             std::is_sorted(order.rbegin(), order.rend())))
        std::swap(order[0], order[1]);
    return order;
}

}  // namespace vexel::phantom
