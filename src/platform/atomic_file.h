// Replacing a file so that readers and crashes only ever see the old or the new contents.
#pragma once

#include <filesystem>
#include <string_view>

namespace vexel {

// Writes a new file beside the target, flushes it to disk and renames it over the target,
// so the old contents stay whole until the new ones are. A symbolic link is followed and
// its target replaced. False (and the old file untouched) on any failure.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view contents);

// Removes the temporary files that writes to path left behind when their process was killed
// (".NAME.XXXXXX" beside the file, or beside its link's target): regular files only, never
// links, and never one a live writer (in this process or another) still holds.
void RemoveStaleTemporaryFiles(const std::filesystem::path& path);

}  // namespace vexel
