#pragma once

namespace vexel {
class CMemoryManager;
}

namespace vexel::cli {

// vexel scan [--json] PATH...: the patients, studies and series found, in display order.
int RunScan(int argc, char** argv, CMemoryManager& files);

}  // namespace vexel::cli
