// The folder of the running program, where its modules and data files are looked for.
#pragma once

#include <filesystem>

namespace vexel {

// Empty when it cannot be told.
std::filesystem::path ExecutableFolder();

}  // namespace vexel
