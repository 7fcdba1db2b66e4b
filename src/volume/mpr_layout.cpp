#include "volume/mpr_layout.h"

#include <cmath>

#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "volume/stack_resampler.h"

namespace vexel {
namespace {

// A tilt shifts images by less than this (pixels) only through rounding in the headers.
constexpr double kShearPixels = 0.01;

enum Family { kNoFamily = -1, kAxial = 0, kCoronal = 1, kSagittal = 2 };

Family FamilyOf(int32_t kind) {
    switch (kind) {
        case kPlaneAxialFeet:
        case kPlaneAxialHead:
            return kAxial;
        case kPlaneCoronal:
            return kCoronal;
        case kPlaneSagittalRight:
        case kPlaneSagittalLeft:
            return kSagittal;
        default:
            return kNoFamily;
    }
}

// The patient axis each family's slices are perpendicular to, and the axes (and signs) of
// their rows and columns as a reader expects them: axial +x, +y; coronal +x, -z; sagittal
// +y, -z.
constexpr int kNormalAxis[] = {2, 1, 0};
constexpr int kRowAxis[] = {0, 0, 1};
constexpr int kColumnAxis[] = {1, 2, 2};
constexpr double kColumnSign[] = {1, -1, -1};

Vec3d Scaled(const Vec3d& a, double s) {
    return {a[0] * s, a[1] * s, a[2] * s};
}
Vec3d Plus(const Vec3d& a, const Vec3d& b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}

std::nullopt_t Fail(std::string* error, const char* why) {
    if (error != nullptr) *error = why;
    return std::nullopt;
}

}  // namespace

bool IsReformatPlane(int32_t plane) {
    return plane == kPlaneAxialFeet || plane == kPlaneCoronal || plane == kPlaneSagittalRight;
}

std::optional<MprLayout> PlanMprLayout(const VolumeRecord& volume, int32_t plane,
                                       std::string* error) {
    const Family source = FamilyOf(volume.planeKind);
    const Family target = IsReformatPlane(plane) ? FamilyOf(plane) : kNoFamily;
    if (target == kNoFamily) return Fail(error, "no such plane");
    if (source == kNoFamily) return Fail(error, "the stack is oblique");
    if (source == target) return Fail(error, "the stack already lies in that plane");
    if (volume.images.size() < 2) return Fail(error, "fewer than 2 images");
    const auto axes = AxesOf(volume.orientation);
    CDicomFrame* first = volume.images.front();
    float spacing[2];
    if (!axes || first == nullptr || !first->Image().PixelSpacing(spacing))
        return Fail(error, "no pixel spacing or orientation");

    MprLayout layout;
    layout.plane = plane;
    layout.sourceColumns = first->Columns();
    layout.sourceRows = first->Rows();
    if (layout.sourceColumns < 1 || layout.sourceRows < 1) return Fail(error, "empty images");
    std::vector<Vec3d> positions;
    for (CDicomFrame* frame : volume.images) {
        if (frame == nullptr || !frame->Position() || frame->Columns() != layout.sourceColumns ||
            frame->Rows() != layout.sourceRows || frame->IsColour())
            return Fail(error, "the images differ in size or have no position");
        const auto& p = *frame->Position();
        positions.push_back({p[0], p[1], p[2]});
    }

    const Vec3d& n = axes->normal;
    const int along = kNormalAxis[target];
    layout.stepAlongColumns = std::fabs(axes->column[along]) >= std::fabs(axes->row[along]);
    const Vec3d& step = layout.stepAlongColumns ? axes->column : axes->row;
    const Vec3d& run = layout.stepAlongColumns ? axes->row : axes->column;
    // Pixel Spacing: between rows (down a column), then between columns (along a row).
    const double stepSpacing = layout.stepAlongColumns ? spacing[0] : spacing[1];
    const double runSpacing = layout.stepAlongColumns ? spacing[1] : spacing[0];
    layout.sliceCount = layout.stepAlongColumns ? layout.sourceRows : layout.sourceColumns;
    layout.runCount = layout.stepAlongColumns ? layout.sourceColumns : layout.sourceRows;
    layout.sliceStep = stepSpacing;
    layout.stepDirection = step;

    // Which output axis the stack takes, and its sense.
    const int rowAxis = kRowAxis[target];
    layout.stackAlongRows = std::fabs(n[rowAxis]) > std::fabs(run[rowAxis]);
    const double wanted =
        layout.stackAlongRows ? n[rowAxis] : kColumnSign[target] * n[kColumnAxis[target]];
    layout.stackReversed = wanted < 0;
    const Vec3d stack = Scaled(n, layout.stackReversed ? -1 : 1);
    layout.rowDirection = layout.stackAlongRows ? stack : run;
    layout.columnDirection = layout.stackAlongRows ? run : stack;

    // Depths along the normal and, for a tilted stack, each image's shift in its plane.
    const size_t count = positions.size();
    for (size_t j = 0; j < count; ++j) {
        const Vec3d offset = Sub(positions[j], positions[0]);
        const double depth = Dot(offset, n);
        if (j > 0 && !(depth > layout.depth.back()))
            return Fail(error, "two images share a position");
        const Vec3d shift = Sub(offset, Scaled(n, depth));
        layout.depth.push_back(depth);
        layout.stepShift.push_back(Dot(shift, step) / stepSpacing);
        layout.runShift.push_back(Dot(shift, run) / runSpacing);
        if (std::fabs(layout.stepShift.back()) > kShearPixels ||
            std::fabs(layout.runShift.back()) > kShearPixels)
            layout.sheared = true;
    }
    layout.tiltDegrees = volume.tiltDegrees;

    const double span = layout.depth.back();
    layout.samples = StackSampleCount(span, runSpacing, count, &layout.sampleStep);
    const double firstDepth = layout.stackReversed ? span : 0;
    layout.firstPosition = Plus(positions[0], Scaled(n, firstDepth));
    if (layout.stackAlongRows) {
        layout.columns = uint32_t(layout.samples);
        layout.rows = layout.runCount;
        layout.rowSpacing = runSpacing;
        layout.columnSpacing = layout.sampleStep;
    } else {
        layout.columns = layout.runCount;
        layout.rows = uint32_t(layout.samples);
        layout.rowSpacing = layout.sampleStep;
        layout.columnSpacing = runSpacing;
    }
    return layout;
}

const VolumeRecord* ChooseMprVolume(std::span<const VolumeRecord> volumes, int32_t plane,
                                    std::string* error) {
    const VolumeRecord* chosen = nullptr;
    for (const VolumeRecord& volume : volumes)
        if ((chosen == nullptr || volume.imageCount > chosen->imageCount) &&
            PlanMprLayout(volume, plane, error))
            chosen = &volume;
    return chosen;
}

}  // namespace vexel
