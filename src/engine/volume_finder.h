// Finds the volumes in a viewport's frame list (in the viewport's order), one pass.
//
// A frame can join only when it is a greyscale frame of a single-frame file with a finite
// position and orientation. A run goes on while each next frame has the run's series,
// orientation (each cosine within 0.0001) and matrix, a step that is not zero, points away
// from the plane (perpendicular, or slanted by a gantry tilt of at most 45 degrees) and,
// from the third frame on, keeps the direction of the previous step. A run is then sorted
// along its normal and split where a step is more than twice the run's median step; pieces
// of two or more frames are volumes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/volume_record.h"

namespace vexel {

std::vector<VolumeRecord> FindVolumes(uint32_t viewportId, std::span<CDicomFrame* const> frames);

}  // namespace vexel
