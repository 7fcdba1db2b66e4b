#pragma once

namespace vexel {
class CMemoryManager;
}

namespace vexel::cli {

// vexel suv PATH... [--json]
// Groups the files into series as `vexel scan` does; prints each file's SUV state, factor and
// unit (or why there is no SUV), and each series' minimum, median and maximum over its non-zero
// voxels in that unit.
int RunSuv(int argc, char** argv, CMemoryManager& files);

}  // namespace vexel::cli
