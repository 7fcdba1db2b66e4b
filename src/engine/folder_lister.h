// Lists every regular file below a folder for the scan job, depth first in the file system's
// order, remembering which file came first in each folder (those load first, so every series
// shows up early in a long scan).
//
// The walk keeps its own stack instead of recursing, follows links to folders but never into
// a folder it has already entered (no loops), records only regular files (a FIFO or a device
// would block the thread that opens it), and stops as soon as it is told to.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vexel {

struct ScanFileRecord {
    std::string folder;  // without a trailing '/'; empty for a file named explicitly
    std::string name;
    std::string path;
};

struct FolderListing {
    std::vector<ScanFileRecord> firstFiles;  // the first file of each folder, in walk order
    std::vector<ScanFileRecord> otherFiles;
    uint32_t skippedEntries = 0;  // not regular files, or folders that could not be entered
};

// Appends the files below folder to listing. False when cancelled() said stop (the listing
// then holds what was found so far).
bool ListFolder(std::string_view folder, FolderListing& listing,
                const std::function<bool()>& cancelled = {});

}  // namespace vexel
