// The ready-made geometry cases of the command line and the tests.
#include <cmath>
#include <numbers>

#include "phantom/geometry_series.h"

namespace vexel::phantom {

namespace {

constexpr const char* kCaseNames[] = {"axial", "coronal", "sagittal", "oblique", "tilted", "gaps"};

double Radians(double degrees) {
    return degrees * std::numbers::pi / 180;
}

}  // namespace

std::vector<MarkerSphere> GeometryCaseSpheres() {
    // Off every symmetry of the field, each at least two radii clear of the cube and the
    // others, and within 40 mm of the centre, so every orientation of the field holds them.
    return {{{25, 25, 0}, 4, 1000},
            {{25, -10, 28}, 4, 1000},
            {{-10, 28, 25}, 4, 1000},
            {{0, 0, 30}, 4, 1000}};
}

GeometrySeriesOptions GeometryCaseOptions(GeometryCase which) {
    GeometrySeriesOptions o;
    o.columns = 112;
    o.rows = 84;
    o.columnSpacingMm = 0.9;
    o.rowSpacingMm = 1.2;
    o.slices = 67;
    o.sliceSpacingMm = 1.5;
    o.content.background = 0;
    o.content.cube = PatientCube{{-12, -12, -12}, 50, 500};
    o.content.spheres = GeometryCaseSpheres();
    o.seriesNumber = 10 + static_cast<int>(which);
    o.description = std::string("Phantom geometry ") + GeometryCaseName(which);
    switch (which) {
        case GeometryCase::kAxial:
            break;
        case GeometryCase::kCoronal:
            o.columnDirection = {0, 0, -1};
            break;
        case GeometryCase::kSagittal:
            o.rowDirection = {0, 1, 0};
            o.columnDirection = {0, 0, -1};
            break;
        case GeometryCase::kOblique: {
            const double a = Radians(30), b = Radians(20);
            o.rowDirection = {std::cos(a), std::sin(a), 0};
            o.columnDirection = {-std::sin(a) * std::cos(b), std::cos(a) * std::cos(b),
                                 std::sin(b)};
            break;
        }
        case GeometryCase::kTilted: {
            // Tilting the columns by t and the stack by t towards them leaves the stack on +z.
            const double t = Radians(18.5);
            o.columnDirection = {0, std::cos(t), std::sin(t)};
            o.gantryTiltDegrees = 18.5;
            break;
        }
        case GeometryCase::kGaps:
            for (int k = 0; k < 67; ++k)
                if (k < 10 || k > 12) o.sliceOffsetsMm.push_back(k * 1.5);
            break;
    }
    return o;
}

std::optional<GeometryCase> ParseGeometryCase(std::string_view name) {
    for (size_t i = 0; i < std::size(kCaseNames); ++i)
        if (name == kCaseNames[i]) return static_cast<GeometryCase>(i);
    return std::nullopt;
}

const char* GeometryCaseName(GeometryCase which) {
    return kCaseNames[static_cast<size_t>(which)];
}

}  // namespace vexel::phantom
