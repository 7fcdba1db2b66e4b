#pragma once

namespace vexel {
class CMemoryManager;
}

namespace vexel::cli {

// vexel dump [--json] FILE...
// Files are opened through the registry of files.
int RunDump(int argc, char** argv, CMemoryManager& files);

}  // namespace vexel::cli
