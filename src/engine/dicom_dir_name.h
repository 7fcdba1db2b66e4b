// DICOMDIR files are skipped by name by the loaders, whatever the letter case.
#pragma once

#include <string_view>

namespace vexel {

// At least 9 characters, the last 8 of which are "dicomdir" in any case.
bool IsDicomDirPath(std::string_view path);

}  // namespace vexel
