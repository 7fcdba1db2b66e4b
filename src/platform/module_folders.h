// Where the codec modules (libvexel-*.so) are loaded from.
#pragma once

#include <filesystem>
#include <vector>

namespace vexel {

// In order: the program's own folder (the build tree), then the installed module folder.
// Only absolute paths: never the working directory or a search path, so a library planted
// there is never loaded.
std::vector<std::filesystem::path> ModuleFolders();

// The first of ModuleFolders() that holds fileName as a regular file; empty when none does.
std::filesystem::path ModuleFolderFor(const char* fileName);

// True when a module may be loaded from folder: an absolute path.
bool IsUsableModuleFolder(const std::filesystem::path& folder);

}  // namespace vexel
