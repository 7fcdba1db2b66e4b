// Reference lines between the real MR images of one patient (localizers in three planes and a
// radial set): the test looks for the crossing itself, by walking
// a fine grid over the target image and watching the side of the source plane change inside
// the source image. Where it clearly finds one there must be a line, where it clearly finds
// none there must be none; every line lies on the source plane and ends on an edge of one of
// the images. Images of different frames of reference never get one.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <vector>

#include "common/test_paths.h"
#include "engine/memory_services.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "platform/memory_load.h"
#include "volume/plane_geometry.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

Vector3 PatientPoint(const PlaneGeometry& plane, ImagePoint p) {
    Vector3 point;
    for (int i = 0; i < 3; ++i)
        point[i] = plane.position[i] + (p.x - 0.5) * plane.columnSpacing * plane.row[i] +
                   (p.y - 0.5) * plane.rowSpacing * plane.column[i];
    return point;
}

// Where a patient point falls in a plane's image coordinates, and how far off the plane.
struct Placed {
    double x, y, off;
};
Placed Place(const PlaneGeometry& plane, const Vector3& point) {
    Vector3 d, n;
    for (int i = 0; i < 3; ++i)
        d[i] = point[i] - plane.position[i];
    n = {plane.row[1] * plane.column[2] - plane.row[2] * plane.column[1],
         plane.row[2] * plane.column[0] - plane.row[0] * plane.column[2],
         plane.row[0] * plane.column[1] - plane.row[1] * plane.column[0]};
    const auto dot = [&](const Vector3& a) { return a[0] * d[0] + a[1] * d[1] + a[2] * d[2]; };
    return {dot(plane.row) / plane.columnSpacing + 0.5, dot(plane.column) / plane.rowSpacing + 0.5,
            dot(n)};
}

bool Inside(const PlaneGeometry& plane, double x, double y, double slack) {
    return x >= -slack && y >= -slack && x <= plane.columns + slack && y <= plane.rows + slack;
}
bool OnEdge(const PlaneGeometry& plane, double x, double y, double slack) {
    return Inside(plane, x, y, slack) &&
           (std::abs(x) < slack || std::abs(y) < slack || std::abs(x - plane.columns) < slack ||
            std::abs(y - plane.rows) < slack);
}

// 1: the source plane clearly crosses the target image inside the source image; -1: clearly
// not, or the planes are within 31 degrees of parallel (no line is drawn then); 0: too close
// to an edge to tell.
int CrossingSeen(const PlaneGeometry& source, const PlaneGeometry& target) {
    const auto normal = [](const PlaneGeometry& p) {
        return Vector3{p.row[1] * p.column[2] - p.row[2] * p.column[1],
                       p.row[2] * p.column[0] - p.row[0] * p.column[2],
                       p.row[0] * p.column[1] - p.row[1] * p.column[0]};
    };
    const Vector3 a = normal(source), b = normal(target);
    const double cosine = (a[0] * b[0] + a[1] * b[1] + a[2] * b[2]) /
                          std::sqrt((a[0] * a[0] + a[1] * a[1] + a[2] * a[2]) *
                                    (b[0] * b[0] + b[1] * b[1] + b[2] * b[2]));
    if (std::abs(std::abs(cosine) - 0.86) < 1e-3) return 0;
    if (std::abs(cosine) > 0.86) return -1;
    constexpr int kSteps = 400;
    bool near = false;
    // Along rows and along columns, so that a line parallel to either is seen too.
    for (const bool alongRows : {true, false}) {
        for (int j = 0; j <= kSteps; ++j) {
            Placed previous{};
            for (int i = 0; i <= kSteps; ++i) {
                const double u = double(alongRows ? i : j) / kSteps;
                const double v = double(alongRows ? j : i) / kSteps;
                const ImagePoint at{float(target.columns * u), float(target.rows * v)};
                const Placed here = Place(source, PatientPoint(target, at));
                if (i > 0 && (previous.off <= 0) != (here.off <= 0)) {
                    const double t = previous.off / (previous.off - here.off);
                    const double sx = previous.x + (here.x - previous.x) * t;
                    const double sy = previous.y + (here.y - previous.y) * t;
                    if (Inside(source, sx, sy, -0.05)) return 1;
                    near |= Inside(source, sx, sy, 0.05);
                }
                previous = here;
            }
        }
    }
    return near ? 0 : -1;
}

TEST(ReferenceLineRealImages, LinesLieOnBothImagesAndEndOnAnEdge) {
    VEXEL_REQUIRE_TESTDATA();
    const fs::path root = test::TestDataDir() / "pydicom/test_files/dicomdirtests/98892003";
    if (!fs::is_directory(root)) GTEST_SKIP() << root << " not found";
    CSystemMemoryLoad load;
    CMemoryServices memory(load);
    std::vector<CFileRef> files;
    std::vector<PlaneGeometry> planes;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        auto [file, status] = memory.Manager().Open(entry.path());
        CDicomImage* image = file ? CDicomImage::Of(*file) : nullptr;
        if (image == nullptr || image->FrameCount() == 0) continue;
        CDicomFrame& frame = *image->Frame(0);
        frame.Decode();  // position and orientation come with the decoded frame
        // The files were cut down to 16 x 16 pixels; their planes are taken at the 256 x 256
        // matrix they were acquired with, so that they reach each other.
        if (auto plane = PlaneOf(frame)) {
            plane->rows = plane->columns = 256;
            planes.push_back(*plane);
        }
        files.push_back(std::move(file));
    }
    ASSERT_GE(planes.size(), 10u);
    size_t lines = 0;
    for (const PlaneGeometry& source : planes) {
        for (const PlaneGeometry& target : planes) {
            const auto line = ReferenceLine(source, target);
            if (!SamePatientSpace(source, target)) {
                EXPECT_FALSE(line.has_value());
                continue;
            }
            const int expected = CrossingSeen(source, target);
            if (expected != 0) {
                EXPECT_EQ(line.has_value(), expected > 0);
            }
            if (!line) continue;
            ++lines;
            for (const ImagePoint end : {line->first, line->second}) {
                const Placed inTarget{end.x, end.y, 0};
                const Placed inSource = Place(source, PatientPoint(target, end));
                EXPECT_LT(std::abs(inSource.off), 0.01) << "off the source plane";
                EXPECT_TRUE(Inside(target, inTarget.x, inTarget.y, 1e-3));
                EXPECT_TRUE(Inside(source, inSource.x, inSource.y, 1e-2));
                EXPECT_TRUE(OnEdge(source, inSource.x, inSource.y, 1e-2) ||
                            OnEdge(target, inTarget.x, inTarget.y, 1e-3))
                    << end.x << "," << end.y;
            }
        }
    }
    EXPECT_GT(lines, 0u);
}

}  // namespace
}  // namespace vexel
