// What a deferred read checks before it trusts the file at the stored path: a swapped disc
// or a rewritten file must never lend its bytes to the data set parsed earlier. The change
// time counts too: tools that keep modification times (and coarse file systems) can rewrite
// a file in place with its old size and time, but nothing short of the kernel sets it back.
#pragma once

#include <sys/stat.h>

#include <cstdint>

namespace vexel {

struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modifiedSeconds = 0;
    int64_t modifiedNanoseconds = 0;
    int64_t changedSeconds = 0;
    int64_t changedNanoseconds = 0;
    bool operator==(const FileIdentity&) const = default;
};

inline FileIdentity FileIdentityOf(const struct stat& status) {
    return {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino),
            static_cast<uint64_t>(status.st_size), status.st_mtim.tv_sec, status.st_mtim.tv_nsec,
            status.st_ctim.tv_sec, status.st_ctim.tv_nsec};
}

}  // namespace vexel
