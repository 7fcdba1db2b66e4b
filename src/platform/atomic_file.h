// Replacing a file so that readers and crashes only ever see the old or the new contents.
#pragma once

#include <filesystem>
#include <string_view>

namespace vexel {

// Writes a new file beside the target, flushes it to disk and renames it over the target,
// so the old contents stay whole until the new ones are. A symbolic link is followed and
// its target replaced. False (and the old file untouched) on any failure.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view contents);

}  // namespace vexel
