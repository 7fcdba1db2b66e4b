#pragma once

namespace vexel {
class CMemoryManager;
}

namespace vexel::cli {

// vexel decode FILE [--frame N | --all] [--out PATH]
// Files are opened through the registry of files.
int RunDecode(int argc, char** argv, CMemoryManager& files);

}  // namespace vexel::cli
