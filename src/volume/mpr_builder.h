// Builds the slices of a reformatted volume, central slices first.
//
// Output slices are made in blocks. For a block, every source image is decoded in stack
// order and held only while the source lines of the block's slices are staged, as values in
// the output's units, in one block buffer; each slice is then resampled along the stack out
// of that buffer into its own pixels. The block buffer is the only memory beyond the output,
// and its size is the caller's budget. Volumes whose images differ in rescale, and PET, are
// requantised to one scale for the whole series.
//
// Threads: any one thread; the pool, when given, runs the staging and the resampling.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "dicom/dicom_file.h"
#include "engine/volume_record.h"
#include "volume/mpr_layout.h"
#include "volume/mpr_slice_file.h"

namespace vexel {

class CParallelThreadPool;

enum class MprOutcome { Done, Cancelled, Failed };

struct MprSlice {
    std::unique_ptr<CDicomFile> file;  // with the one reference MakeInMemory gave it
    uint32_t index = 0;
    uint32_t done = 0;  // slices delivered so far, this one included
    uint32_t total = 0;
};

struct MprBuildOptions {
    size_t blockBytes = size_t{128} << 20;  // the block buffer's budget
    CParallelThreadPool* pool = nullptr;    // null: all on the calling thread
    // Asked between source images and before every slice; true stops the build.
    std::function<bool()> cancelled;
    // Gets every finished slice in the order they are made.
    std::function<void(MprSlice)> deliver;
    // Tests: called before each source image is staged; replaces CheckedAlloc.
    std::function<void(size_t image)> beforeSourceImage;
    std::function<void*(size_t bytes)> allocate;
};

// Builds `plane` from `volume`, whose frames must stay alive until it returns. On failure
// `error` says why.
MprOutcome BuildMpr(const VolumeRecord& volume, int32_t plane, const MprBuildOptions& options,
                    std::string* error);

}  // namespace vexel
