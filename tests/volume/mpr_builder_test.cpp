// Reformatting against the analytic phantom: every output slice is read back through its own
// header (position, orientation, spacing, rescale), and what it shows must be where the
// phantom put it. Marker spheres land within half an output pixel of their true centres, the
// 50 mm cube measures 50 mm, a linear ramp comes out exact at every sample's true position,
// whichever way the stack was oriented, tilted, listed or rescaled.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/test_paths.h"
#include "engine/headless_scan.h"
#include "engine/memory_services.h"
#include "engine/parallel_thread_pool.h"
#include "engine/study_model.h"
#include "engine/volume_finder.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "imaging/pet_suv.h"
#include "phantom/geometry_series.h"
#include "phantom/phantom_writer.h"
#include "platform/memory_load.h"
#include "volume/mpr_builder.h"
#include "volume/plane_geometry.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;
using phantom::GeometryCase;
using phantom::GeometrySeriesOptions;
using phantom::Vec3;

// One output slice as its header describes it.
struct Slice {
    std::unique_ptr<CDicomFile> file;
    PlaneGeometry plane;
    std::vector<double> values;  // real values, row by row

    double At(uint32_t column, uint32_t row) const {
        return values[size_t(row) * plane.columns + column];
    }
    Vec3 Point(double column, double row) const {
        const auto& p = plane;
        return {
            p.position[0] + column * p.columnSpacing * p.row[0] + row * p.rowSpacing * p.column[0],
            p.position[1] + column * p.columnSpacing * p.row[1] + row * p.rowSpacing * p.column[1],
            p.position[2] + column * p.columnSpacing * p.row[2] + row * p.rowSpacing * p.column[2]};
    }
    // Image coordinates (pixel centres at whole numbers) and distance off the plane.
    std::array<double, 3> Place(const Vec3& point) const {
        const auto& p = plane;
        const Vec3 d = {point.x - p.position[0], point.y - p.position[1], point.z - p.position[2]};
        const Vec3 r = {p.row[0], p.row[1], p.row[2]}, c = {p.column[0], p.column[1], p.column[2]};
        return {phantom::Dot(d, r) / p.columnSpacing, phantom::Dot(d, c) / p.rowSpacing,
                phantom::Dot(d, phantom::Cross(r, c))};
    }
};

class MprBuild : public ::testing::Test {
protected:
    CSystemMemoryLoad load;
    CMemoryServices memory{load};
    CParallelThreadPool pool{2};
    std::vector<CFileRef> files;
    fs::path lastDir;

    // The volumes of a series written with `options`; the largest first.
    std::vector<VolumeRecord> Volumes(const std::string& name,
                                      const GeometrySeriesOptions& options) {
        lastDir = test::ScratchDir("mpr-" + name);
        std::string error;
        EXPECT_TRUE(phantom::WriteGeometrySeries(lastDir, options, &error)) << error;
        return Open(lastDir);
    }
    std::vector<VolumeRecord> Open(const fs::path& dir) {
        // In file name order, which is instance order: the order a viewport lists them in.
        std::vector<fs::path> paths;
        for (const auto& entry : fs::directory_iterator(dir))
            paths.push_back(entry.path());
        std::sort(paths.begin(), paths.end());
        std::vector<CDicomFrame*> frames;
        for (const fs::path& path : paths) {
            auto [file, status] = memory.Manager().Open(path);
            CDicomImage* image = file ? CDicomImage::Of(*file) : nullptr;
            if (image == nullptr || image->FrameCount() == 0) continue;
            frames.push_back(image->Frame(0));
            files.push_back(std::move(file));
        }
        std::vector<VolumeRecord> volumes = FindVolumes(1, frames);
        std::sort(volumes.begin(), volumes.end(),
                  [](const auto& a, const auto& b) { return a.imageCount > b.imageCount; });
        return volumes;
    }
    std::vector<Slice> Build(const VolumeRecord& volume, int32_t plane,
                             MprBuildOptions options = {}) {
        std::map<uint32_t, Slice> slices;
        options.pool = &pool;
        options.deliver = [&](MprSlice s) { slices[s.index].file = std::move(s.file); };
        std::string error;
        EXPECT_EQ(BuildMpr(volume, plane, options, &error), MprOutcome::Done) << error;
        std::vector<Slice> out;
        for (auto& [index, slice] : slices) {
            CDicomFrame& frame = *CDicomImage::Of(*slice.file)->Frame(0);
            slice.plane = *PlaneOf(frame);
            std::vector<CDicomFrame*> holders;
            const auto* words = reinterpret_cast<const uint16_t*>(frame.Pixels(&holders));
            const CDicomImage& image = frame.Image();
            for (size_t i = 0; i < size_t(frame.Columns()) * frame.Rows(); ++i)
                slice.values.push_back(
                    (image.IsSigned() ? double(int16_t(words[i])) : double(words[i])) *
                        image.RescaleSlope() +
                    image.RescaleIntercept());
            CDicomFrame::ReleaseHolders(holders);
            out.push_back(std::move(slice));
        }
        return out;
    }
};

constexpr int32_t kPlanes[] = {kPlaneAxialFeet, kPlaneCoronal, kPlaneSagittalRight};

struct Case {
    const char* name;
    GeometrySeriesOptions options;
    bool cube;  // the cube's faces lie along the output axes
};

std::vector<Case> Cases() {
    GeometrySeriesOptions flipped = phantom::GeometryCaseOptions(GeometryCase::kCoronal);
    flipped.rowDirection = {-1, 0, 0};  // the normal points anterior
    GeometrySeriesOptions descending = phantom::GeometryCaseOptions(GeometryCase::kSagittal);
    descending.order = phantom::ListingOrder::kDescending;
    return {{"axial", phantom::GeometryCaseOptions(GeometryCase::kAxial), true},
            {"coronal", phantom::GeometryCaseOptions(GeometryCase::kCoronal), true},
            {"coronal-flipped", flipped, true},
            {"sagittal-descending", descending, true},
            {"oblique", phantom::GeometryCaseOptions(GeometryCase::kOblique), false},
            {"tilted", phantom::GeometryCaseOptions(GeometryCase::kTilted), false},
            {"gaps", phantom::GeometryCaseOptions(GeometryCase::kGaps), false}};
}

// Crossings of half the cube's value along a line through the slice, in mm apart.
double CubeWidth(const Slice& s, double column, double row, bool alongRow, double half) {
    const uint32_t count = alongRow ? s.plane.columns : s.plane.rows;
    auto value = [&](uint32_t i) {
        return alongRow ? s.At(i, uint32_t(std::lround(row)))
                        : s.At(uint32_t(std::lround(column)), i);
    };
    double first = -1, last = -1;
    for (uint32_t i = 0; i + 1 < count; ++i) {
        const double a = value(i), b = value(i + 1);
        if ((a < half) == (b < half)) continue;
        const double at = i + (half - a) / (b - a);
        if (first < 0) first = at;
        last = at;
    }
    return (last - first) * (alongRow ? s.plane.columnSpacing : s.plane.rowSpacing);
}

TEST_F(MprBuild, MarkersAndTheCubeAreWhereThePhantomPutThem) {
    for (const Case& c : Cases()) {
        const std::vector<VolumeRecord> volumes = Volumes(c.name, c.options);
        ASSERT_FALSE(volumes.empty()) << c.name;
        for (int32_t plane : kPlanes) {
            if (!PlanMprLayout(volumes[0], plane, nullptr)) continue;
            SCOPED_TRACE(std::string(c.name) + " to " + PlaneKindName(plane));
            const std::vector<Slice> slices = Build(volumes[0], plane);
            ASSERT_FALSE(slices.empty());
            const PlaneGeometry& g = slices[0].plane;
            // Axial output has anterior up, coronal and sagittal the head up.
            if (plane == kPlaneAxialFeet)
                EXPECT_GT(g.column[1], 0.5);
            else
                EXPECT_LT(g.column[2], -0.5);

            for (const phantom::MarkerSphere& marker : c.options.content.spheres) {
                const Slice* nearest = nullptr;
                for (const Slice& s : slices)
                    if (!nearest || std::abs(s.Place(marker.center)[2]) <
                                        std::abs(nearest->Place(marker.center)[2]))
                        nearest = &s;
                const auto [x, y, off] = nearest->Place(marker.center);
                if (std::abs(off) > 0.6 * g.rowSpacing + 0.6 * g.columnSpacing || x < 0 || y < 0 ||
                    x > g.columns - 1 || y > g.rows - 1)
                    continue;  // outside this volume
                double sx = 0, sy = 0, weight = 0;
                for (uint32_t row = 0; row < g.rows; ++row)
                    for (uint32_t column = 0; column < g.columns; ++column) {
                        const double v = nearest->At(column, row);
                        if (v > marker.value / 2 && std::hypot(column - x, row - y) < 8) {
                            sx += v * column;
                            sy += v * row;
                            weight += v;
                        }
                    }
                ASSERT_GT(weight, 0)
                    << marker.center.x << " " << marker.center.y << " at " << x << "," << y
                    << " off " << off << " max "
                    << *std::max_element(nearest->values.begin(), nearest->values.end()) << " pos "
                    << g.position[0] << "," << g.position[1] << "," << g.position[2] << " dims "
                    << g.columns << "x" << g.rows;
                EXPECT_NEAR(sx / weight, x, 0.5);
                EXPECT_NEAR(sy / weight, y, 0.5);
            }
            if (!c.cube) continue;
            const phantom::PatientCube& cube = *c.options.content.cube;
            const Slice* through = &slices[0];
            for (const Slice& s : slices)
                if (std::abs(s.Place(cube.center)[2]) < std::abs(through->Place(cube.center)[2]))
                    through = &s;
            const auto [x, y, off] = through->Place(cube.center);
            // The source samples the faces 0.9 mm apart in the plane and 1.5 mm along the
            // stack, so 49.5 mm is as near as the half-value crossings can come.
            EXPECT_NEAR(CubeWidth(*through, x, y, true, cube.value / 2), cube.edgeMm, 0.55);
            EXPECT_NEAR(CubeWidth(*through, x, y, false, cube.value / 2), cube.edgeMm, 0.55);
        }
    }
}

// A linear ramp is a piecewise-linear signal that the resampling must carry exactly: each
// sample equals the ramp at the position its header gives it (away from the stack's ends,
// where the averaging interval is cut, and from a tilted stack's sheared edges).
TEST_F(MprBuild, ARampComesOutExactAtEverySamplesTruePosition) {
    for (const GeometryCase which : {GeometryCase::kAxial, GeometryCase::kSagittal,
                                     GeometryCase::kOblique, GeometryCase::kTilted}) {
        for (const int axis : {0, 1, 2}) {
            GeometrySeriesOptions options = phantom::GeometryCaseOptions(which);
            options.content = {};
            options.content.ramp = phantom::LinearRamp{axis, 40, 2.5};
            const std::string name =
                std::string("ramp-") + phantom::GeometryCaseName(which) + std::to_string(axis);
            const std::vector<VolumeRecord> volumes = Volumes(name, options);
            ASSERT_EQ(volumes.size(), 1u);
            for (int32_t plane : kPlanes) {
                const auto layout = PlanMprLayout(volumes[0], plane, nullptr);
                if (!layout) continue;
                SCOPED_TRACE(name + " to " + PlaneKindName(plane));
                const double margin = which == GeometryCase::kTilted ? 0.25 : 0;
                size_t checked = 0;
                const std::vector<Slice> slices = Build(volumes[0], plane);
                for (const Slice& s : slices) {
                    const size_t k = size_t(&s - slices.data());
                    const double count = double(slices.size());
                    if (double(k) < margin * count || double(k) > (1 - margin) * count) continue;
                    const uint32_t columns = s.plane.columns, rows = s.plane.rows;
                    for (uint32_t row = 0; row < rows; ++row)
                        for (uint32_t column = 0; column < columns; ++column) {
                            const uint32_t t = layout->stackAlongRows ? column : row;
                            const uint32_t i = layout->stackAlongRows ? row : column;
                            const uint32_t n = uint32_t(layout->samples), r = layout->runCount;
                            if (t == 0 || t + 1 >= n || i < margin * r || i > (1 - margin) * r ||
                                t < margin * n || t > (1 - margin) * n)
                                continue;
                            const double truth =
                                phantom::GeometryValueAt(options, s.Point(column, row));
                            ASSERT_NEAR(s.At(column, row), truth, 1.0) << column << "," << row;
                            ++checked;
                        }
                }
                EXPECT_GT(checked, 1000u);
            }
        }
    }
}

TEST_F(MprBuild, RescalePhotometricAndListingOrderCarryOver) {
    // Slopes 1 and 2 in turn, true value 100: one scale for the series, 100 everywhere.
    GeometrySeriesOptions mixed = phantom::GeometryCaseOptions(GeometryCase::kAxial);
    mixed.content = {};
    mixed.content.background = 100;
    mixed.rescales = {{1, 0}, {2, 0}};
    mixed.pixels = phantom::GeometryPixels::kMonochrome1;
    for (const Slice& s : Build(Volumes("mixed", mixed)[0], kPlaneCoronal)) {
        EXPECT_EQ(s.file->String(0x00280004).substr(0, 11), "MONOCHROME1");
        for (double v : s.values)
            ASSERT_NEAR(v, 100, 0.5);
    }

    GeometrySeriesOptions rgb = mixed;
    rgb.pixels = phantom::GeometryPixels::kRgb;
    rgb.rescales.clear();
    for (const VolumeRecord& volume : Volumes("rgb", rgb))
        EXPECT_FALSE(PlanMprLayout(volume, kPlaneCoronal, nullptr));

    // The same stack listed the other way round gives the same pixels.
    GeometrySeriesOptions descending = phantom::GeometryCaseOptions(GeometryCase::kAxial);
    descending.order = phantom::ListingOrder::kDescending;
    const auto a =
        Build(Volumes("ascending", phantom::GeometryCaseOptions(GeometryCase::kAxial))[0],
              kPlaneSagittalRight);
    const auto b = Build(Volumes("descending", descending)[0], kPlaneSagittalRight);
    ASSERT_EQ(a.size(), b.size());
    for (size_t k = 0; k < a.size(); ++k)
        ASSERT_EQ(a[k].values, b[k].values) << k;
}

// A scan of the same files (parsing, decoding, releasing them on its own threads) while the
// volume is reformatted: the output is the quiet run's, byte for byte.
TEST_F(MprBuild, AScanOfTheSameFilesChangesNothing) {
    const std::vector<VolumeRecord> volumes =
        Volumes("during-scan", phantom::GeometryCaseOptions(GeometryCase::kAxial));
    const std::vector<Slice> quiet = Build(volumes[0], kPlaneSagittalRight);
    std::atomic<bool> building{true};
    std::thread scanner([&] {
        do {
            StudyModel model;
            HeadlessScanRequest request;
            request.folders = {lastDir.string()};
            RunHeadlessScan(memory.Manager(), model, request);
            memory.Manager().ReleaseMemoryNow();
        } while (building);
    });
    const std::vector<Slice> busy = Build(volumes[0], kPlaneSagittalRight);
    building = false;
    scanner.join();
    ASSERT_EQ(quiet.size(), busy.size());
    for (size_t k = 0; k < quiet.size(); ++k)
        ASSERT_EQ(quiet[k].values, busy[k].values) << k;
}

TEST_F(MprBuild, PetIsScaledToItsLargestValue) {
    const fs::path dir = test::ScratchDir("mpr-pet");
    std::string error;
    ASSERT_TRUE(phantom::WritePetSeries(dir, phantom::PhantomOptions{}, &error)) << error;
    const std::vector<VolumeRecord> volumes = Open(dir);
    ASSERT_FALSE(volumes.empty());
    double largest = 0;
    for (CDicomFrame* frame : volumes[0].images) {
        std::vector<CDicomFrame*> holders;
        const auto* words = reinterpret_cast<const uint16_t*>(frame->Pixels(&holders));
        for (size_t i = 0; i < size_t(frame->Columns()) * frame->Rows(); ++i)
            largest = std::max(largest, (frame->Image().IsSigned() ? double(int16_t(words[i]))
                                                                   : double(words[i])) *
                                            frame->Image().RescaleSlope());
        CDicomFrame::ReleaseHolders(holders);
    }
    double top = 0;
    const SuvInfo source = ComputeSuv(volumes[0].images[0]->Image().File());
    ASSERT_EQ(source.state, SuvState::Suv) << source.reason;
    for (const Slice& s : Build(volumes[0], kPlaneCoronal)) {
        EXPECT_NEAR(CDicomImage::Of(*s.file)->RescaleSlope(), largest / 32767, largest * 1e-6);
        // The slices keep what SUV needs: the same factor for the same values.
        const SuvInfo suv = ComputeSuv(*s.file);
        ASSERT_EQ(suv.state, SuvState::Suv) << suv.reason;
        EXPECT_NEAR(suv.factor, source.factor, source.factor * 1e-6);
        for (double v : s.values)
            top = std::max(top, v);
    }
    // The hottest place keeps its SUV within 0.5 %.
    EXPECT_NEAR(top * source.factor, largest * source.factor, largest * source.factor * 5e-3);
}

}  // namespace
}  // namespace vexel
