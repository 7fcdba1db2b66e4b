#pragma once

namespace vexel {
class CMemoryManager;
}

namespace vexel::cli {

// vexel mpr PATH... [--series N] --plane coronal|sagittal|axial [--json]
// Finds the volumes of each series (or of series N, counted from 0 in display order) as the
// viewer does and reports their geometry: plane, images, spacing, gaps, gantry tilt and frame
// of reference.
int RunMpr(int argc, char** argv, CMemoryManager& files);

}  // namespace vexel::cli
