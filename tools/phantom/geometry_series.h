// Series of exact, known geometry for tests of volumes, reformatting and reference lines: any
// orientation, gantry tilt, gaps and uneven slice offsets, anisotropic pixels, and content
// defined in patient millimetres (marker spheres, a cube, a linear ramp), so a test can work
// out the true value at any point and compare it with what a reader builds from the files.
//
// Geometry: rowDirection and columnDirection are Image Orientation (Patient); the normal is
// row x column. Slice k's Image Position (Patient), the centre of its first transmitted
// pixel, is origin + offset[k] x stack direction, and the pixel (column c, row r) sits at
//   IPP + c x columnSpacingMm x rowDirection + r x rowSpacingMm x columnDirection.
// The origin is chosen so that the sampled box is centred on `center`.
//
// Values: 16-bit signed stored values, stored = round((value - intercept) / slope); a value
// that does not fit fails the write. UIDs as in phantom_writer.h: study <root>.1, series
// <root>.2.<series number>, frame of reference <root>.3, SOP <root>.4.<series>.<instance>.
// Instance numbers follow the writing order, so only the positions sort the volume.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "phantom/analytic_phantom.h"
#include "phantom/data_set_writer.h"
#include "phantom/phantom_writer.h"

namespace vexel::phantom {

inline Vec3 operator+(const Vec3& a, const Vec3& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(double s, const Vec3& a) {
    return {s * a.x, s * a.y, s * a.z};
}
inline double Dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 Cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// A ball of one value.
struct MarkerSphere {
    Vec3 center;
    double radiusMm = 4;
    double value = 1000;
};

// A cube whose edges run along the patient axes; points on its faces are inside.
struct PatientCube {
    Vec3 center;
    double edgeMm = 50;
    double value = 500;
};

// value = offset + slope x (the chosen patient coordinate, mm).
struct LinearRamp {
    int axis = 2;  // 0 x, 1 y, 2 z
    double offset = 0;
    double slopePerMm = 1;
};

// Painter's order: the ramp (or the background) first, then the cube, then the spheres.
struct GeometryContent {
    double background = 0;
    std::optional<LinearRamp> ramp;  // replaces the background where set
    std::optional<PatientCube> cube;
    std::vector<MarkerSphere> spheres;
};

struct Rescale {
    double slope = 1;
    double intercept = -1024;
};

enum class ListingOrder { kAscending, kDescending, kShuffled };
enum class GeometryPixels { kMonochrome2, kMonochrome1, kRgb };

struct GeometrySeriesOptions {
    int columns = 64;
    int rows = 64;
    Vec3 rowDirection{1, 0, 0};     // along a row: the direction of increasing column
    Vec3 columnDirection{0, 1, 0};  // along a column: the direction of increasing row
    double columnSpacingMm = 1;     // between columns; Pixel Spacing's second value
    double rowSpacingMm = 1;        // between rows; Pixel Spacing's first value
    // The stack: zero means the normal turned by gantryTiltDegrees towards columnDirection
    // (cos t x normal + sin t x columnDirection); otherwise this direction, normalised.
    Vec3 stackDirection{};
    double gantryTiltDegrees = 0;  // written as Gantry/Detector Tilt whatever the stack
    // Slice offsets along the stack in mm, strictly increasing; empty: slices x spacing.
    std::vector<double> sliceOffsetsMm;
    int slices = 32;
    double sliceSpacingMm = 1;  // the nominal spacing, also when offsets are listed
    Vec3 center;                // centre of the sampled box

    GeometryContent content;
    // Image k (in position order) uses rescales[k % size]; empty: slope 1, intercept -1024.
    std::vector<Rescale> rescales;
    GeometryPixels pixels = GeometryPixels::kMonochrome2;
    ListingOrder order = ListingOrder::kAscending;
    uint32_t shuffleSeed = 1;

    bool writeFrameOfReference = true;
    std::string frameOfReferenceUid;               // empty: <uid root>.3
    std::optional<double> sliceThicknessMm;        // empty: the nominal spacing
    std::optional<double> spacingBetweenSlicesMm;  // written only when set, as given

    int seriesNumber = 10;
    std::string description = "Phantom geometry";
    std::string filePrefix = "IM";
    VrEncoding encoding = VrEncoding::kExplicit;
    TextCharset charset = TextCharset::kLatin1;
    std::string uidRoot = kDefaultUidRoot;
};

// The geometry of valid options, resolved once: unit directions and ascending offsets.
class CStackGeometry {
public:
    explicit CStackGeometry(const GeometrySeriesOptions& options);

    int Slices() const { return static_cast<int>(m_offsets.size()); }
    double Offset(int slice) const { return m_offsets[size_t(slice)]; }
    const Vec3& RowDirection() const { return m_row; }
    const Vec3& ColumnDirection() const { return m_column; }
    const Vec3& Normal() const { return m_normal; }
    const Vec3& StackDirection() const { return m_stack; }
    // Image Position (Patient) of slice `slice`, counted in position order.
    Vec3 SlicePosition(int slice) const { return m_origin + m_offsets[size_t(slice)] * m_stack; }
    Vec3 PixelCenter(int slice, double column, double row) const;

private:
    Vec3 m_row, m_column, m_normal, m_stack, m_origin;
    double m_columnSpacing = 0, m_rowSpacing = 0;
    std::vector<double> m_offsets;
};

// Checks sizes, directions, offsets, rescales and UIDs before anything is written.
bool ValidateGeometryOptions(const GeometrySeriesOptions& options, std::string* error);
// The true (modality) value at a patient point, before the stored values are rounded.
double GeometryValueAt(const GeometryContent& content, const Vec3& p);
inline double GeometryValueAt(const GeometrySeriesOptions& options, const Vec3& p) {
    return GeometryValueAt(options.content, p);
}
// The slice (in position order) that file number i + 1 holds.
std::vector<int> GeometryListing(const GeometrySeriesOptions& options);
// Writes <seriesDir>/<prefix>0001.dcm ... in listing order, all at once as WriteCtSeries does.
bool WriteGeometrySeries(const std::filesystem::path& seriesDir,
                         const GeometrySeriesOptions& options, std::string* error);

// Ready-made cases over one field of 100.8 x 100.8 x 100.5 mm centred on the patient origin:
// 112 x 84 pixels of 0.9 (between columns) x 1.2 mm (between rows), 67 slices 1.5 mm apart,
// background 0, a 50 mm cube of 500 centred at (-12, -12, -12) and spheres of 1000 with
// radius 4 at GeometryCaseSpheres(). axial: 1\0\0\0\1\0; coronal: 1\0\0\0\0\-1; sagittal:
// 0\1\0\0\0\-1; oblique: axial turned 30 degrees about z, then its columns 20 degrees about
// the row; tilted: rows 1\0\0, columns (0, cos 18.5, sin 18.5), a gantry tilt of 18.5
// degrees, so the stack runs along +z; gaps: axial with offsets k x 1.5 mm, k = 0..66 but
// not 10..12 (a 6 mm gap).
enum class GeometryCase { kAxial, kCoronal, kSagittal, kOblique, kTilted, kGaps };
std::vector<MarkerSphere> GeometryCaseSpheres();
GeometrySeriesOptions GeometryCaseOptions(GeometryCase which);
// "axial", "coronal", ... as the command line names them.
std::optional<GeometryCase> ParseGeometryCase(std::string_view name);
const char* GeometryCaseName(GeometryCase which);

}  // namespace vexel::phantom
