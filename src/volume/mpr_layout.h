// Where the slices of a reformatted volume lie and which source values build them.
//
// An output slice holds one source row (or column) of every source image: one of its axes
// runs along that source line ("run" axis), the other through the stack along the volume's
// normal; successive output slices step along the source's other in-plane axis. The axes are
// chosen by what they point at, not by the sign of the source's normal, so a head-first or a
// feet-first stack, listed in either order, gives the same picture: axial output has patient
// left to the right and anterior up, coronal and sagittal output have the head up.
//
// Spacings are exact: a step along the source rows uses the row spacing, along the columns
// the column spacing, and the stack is sampled at one declared interval. A stack whose steps
// are not perpendicular to its images (gantry tilt) is sheared back: every output sample is
// taken at its true patient position.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/volume_geometry.h"
#include "engine/volume_record.h"

namespace vexel {

// Planes that can be asked for and formed from: 1 axial, 3 coronal, 4 sagittal.
bool IsReformatPlane(int32_t plane);

struct MprLayout {
    int32_t plane = 0;  // requested: kPlaneAxialFeet, kPlaneCoronal or kPlaneSagittalRight

    // The output slices: Image Orientation (Patient), size and Pixel Spacing (between rows,
    // between columns), and slice k's Image Position (Patient) firstPosition + k x sliceStep x
    // stepDirection.
    Vec3d rowDirection{}, columnDirection{}, stepDirection{};
    Vec3d firstPosition{};
    uint32_t columns = 0, rows = 0;
    double rowSpacing = 0, columnSpacing = 0;
    uint32_t sliceCount = 0;
    double sliceStep = 0;

    // The source: slice k takes source row k (stepAlongColumns: the step axis is the column
    // direction) or source column k. Along an output slice the run axis holds runCount
    // samples of the other in-plane axis and the stack holds `samples` samples, stackAlongRows
    // telling which of the two runs along the output rows.
    bool stepAlongColumns = true;
    bool stackAlongRows = false;
    uint32_t runCount = 0;
    uint32_t sourceColumns = 0, sourceRows = 0;
    size_t samples = 0;
    double sampleStep = 0;
    // Per source image (as the volume lists them, ascending along the normal): its depth
    // from the first image, and for tilted stacks its shift within the image plane in
    // pixels of the step axis and of the run axis.
    std::vector<double> depth;
    std::vector<double> stepShift, runShift;
    bool sheared = false;
    double tiltDegrees = 0;
    // Stack sample t lies at depth firstDepth + t x sampleStep x (stackReversed ? -1 : 1).
    bool stackReversed = false;
};

// The layout of `plane` from `volume`; nothing (and why in `error`) when the volume is not an
// axial, coronal or sagittal stack of at least 2 images of one matrix and orientation, with
// positions and pixel spacing, or already lies in that plane.
std::optional<MprLayout> PlanMprLayout(const VolumeRecord& volume, int32_t plane,
                                       std::string* error);

// Of a series' volumes, the one reformatted into `plane`: the largest that can be (the first
// of equals), so a gap that leaves a few images on one side never hides the rest; null when
// none can (`error` then says why the last one could not).
const VolumeRecord* ChooseMprVolume(std::span<const VolumeRecord> volumes, int32_t plane,
                                    std::string* error);

}  // namespace vexel
