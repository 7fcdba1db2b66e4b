// The private folder that crash reports are written to: a real directory owned by this user,
// open to nobody else, whose files are made new and never through a link.
#pragma once

#include <filesystem>

namespace vexel {

// "VexelViewer/crash" under the cache home; empty when the cache home is unknown.
std::filesystem::path CrashReportFolderPath(const std::filesystem::path& cacheHome);

// Opens the folder, making it, its parent and the cache home above them with mode 0700 when
// missing, and returns its descriptor (close-on-exec), or -1. Neither the folder nor its
// parent may be a link; the folder must be owned by this user and is narrowed to 0700 when it
// allows more.
int OpenPrivateFolder(const std::filesystem::path& folder);
// The same checks on a folder that must already exist: nothing is created.
int OpenExistingPrivateFolder(const std::filesystem::path& folder);

// The functions below are async-signal-safe.

// Creates a new file in the folder for writing: O_CREAT|O_EXCL|O_NOFOLLOW, mode 0600.
// Returns its descriptor, or -1 when the name exists (a link included) or on any error.
int CreatePrivateFile(int folderFd, const char* name);
// Removes the folder's regular files; links, folders and anything else stay.
void ClearPrivateFolder(int folderFd);

}  // namespace vexel
