// The per-run working folder "<temporary root>/tmpXXXXXXXX" and its "lock" file. The lock
// is an exclusive flock held on an open descriptor for the whole run, so another instance
// can tell a live folder from one left behind by a crash.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

namespace vexel {

// Pseudo-random numbers from 0 to 32767; each folder name takes two.
using FolderNameRandom = std::function<uint32_t()>;
FolderNameRandom DefaultFolderNameRandom();

class CInstanceFolder {
public:
    CInstanceFolder() = default;
    ~CInstanceFolder();
    CInstanceFolder(const CInstanceFolder&) = delete;
    CInstanceFolder& operator=(const CInstanceFolder&) = delete;

    // Makes a new folder with a locked "lock" file inside the temporary root, which must be
    // a real directory of this user. Names already taken are retried with new numbers.
    // False, with empty paths, when no folder could be made.
    bool Create(const std::filesystem::path& temporaryRoot, const FolderNameRandom& random);

    // Deletes the lock file and closes it; the folder goes with the next stale-folder pass.
    void ReleaseLock();

    const std::filesystem::path& Path() const { return m_path; }
    const std::filesystem::path& LockPath() const { return m_lockPath; }
    bool HoldsLock() const { return m_lockFd >= 0; }

private:
    bool TryCreate(const std::filesystem::path& temporaryRoot, const std::string& name);

    std::filesystem::path m_path;
    std::filesystem::path m_lockPath;
    int m_lockFd = -1;
};

// True for "tmp" followed by exactly eight hexadecimal digits.
bool IsInstanceFolderName(std::string_view name);

// Removes every instance folder in the temporary root whose lock nobody holds: no "lock"
// file, or one whose flock can be taken. Only entries with instance folder names that are
// real directories (never symbolic links) owned by this user are considered, and nothing is
// done unless the root itself is such a directory. Returns how many folders were removed.
int RemoveStaleInstanceFolders(const std::filesystem::path& temporaryRoot);

// True when the path is an existing directory, not a symbolic link, owned by this user.
bool IsOwnRealDirectory(const std::filesystem::path& path);

}  // namespace vexel
