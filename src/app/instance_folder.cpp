#include "app/instance_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "platform/unique_fd.h"

namespace vexel {

namespace {

constexpr int kCreateAttempts = 64;
constexpr const char* kLockName = "lock";

bool IsOwnDirectoryFd(int fd) {
    struct stat info {};
    return fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid();
}

std::string FolderName(uint32_t high, uint32_t low) {
    char name[16];
    std::snprintf(name, sizeof name, "tmp%04X%04X", high & 0x7FFFu, low & 0x7FFFu);
    return name;
}

std::vector<std::string> ListInstanceFolderNames(int rootFd) {
    std::vector<std::string> names;
    int listFd = dup(rootFd);
    if (listFd < 0) return names;
    DIR* dir = fdopendir(listFd);
    if (dir == nullptr) {
        close(listFd);
        return names;
    }
    rewinddir(dir);
    while (dirent* entry = readdir(dir))
        if (IsInstanceFolderName(entry->d_name)) names.emplace_back(entry->d_name);
    closedir(dir);
    return names;
}

// An open descriptor that holds the folder's lock when the folder is stale (no lock file
// counts as stale too, giving -2); -1 when a live instance holds it or it cannot be told.
int TakeStaleLock(int folderFd) {
    int lockFd = openat(folderFd, kLockName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (lockFd < 0) return errno == ENOENT ? -2 : -1;
    if (flock(lockFd, LOCK_EX | LOCK_NB) == 0) return lockFd;
    close(lockFd);
    return -1;
}

bool RemoveIfStale(int rootFd, const std::filesystem::path& root, const std::string& name) {
    const UniqueFd folderFd(
        openat(rootFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folderFd.Get() < 0 || !IsOwnDirectoryFd(folderFd.Get())) return false;
    const UniqueFd lockFd(TakeStaleLock(folderFd.Get()));
    if (lockFd.Get() == -1) return false;
    // The lock stays held while the folder goes, so no other pass races with this one.
    std::error_code ec;
    std::filesystem::remove_all(root / name, ec);
    return !ec;
}

}  // namespace

FolderNameRandom DefaultFolderNameRandom() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::seed_seq seed{static_cast<uint32_t>(now), static_cast<uint32_t>(now >> 32),
                       static_cast<uint32_t>(getpid())};
    auto engine = std::make_shared<std::mt19937>(seed);
    return [engine] { return static_cast<uint32_t>((*engine)() & 0x7FFFu); };
}

bool IsInstanceFolderName(std::string_view name) {
    if (name.size() != 11 || name.substr(0, 3) != "tmp") return false;
    for (char c : name.substr(3)) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        if (!hex) return false;
    }
    return true;
}

bool IsOwnRealDirectory(const std::filesystem::path& path) {
    struct stat info {};
    return !path.empty() && lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == geteuid();
}

CInstanceFolder::~CInstanceFolder() {
    ReleaseLock();
}

bool CInstanceFolder::Create(const std::filesystem::path& temporaryRoot,
                             const FolderNameRandom& random) {
    ReleaseLock();
    m_path.clear();
    m_lockPath.clear();
    if (!random || !IsOwnRealDirectory(temporaryRoot)) return false;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        const uint32_t high = random();
        const uint32_t low = random();
        if (TryCreate(temporaryRoot, FolderName(high, low))) return true;
    }
    return false;
}

// The folder is built under a name the stale-folder pass ignores and renamed only once its
// lock is held, so no other instance ever sees it unlocked.
bool CInstanceFolder::TryCreate(const std::filesystem::path& temporaryRoot,
                                const std::string& name) {
    const std::filesystem::path finalPath = temporaryRoot / name;
    const std::filesystem::path stagedPath = temporaryRoot / (name + ".new");
    struct stat existing {};
    if (lstat(finalPath.c_str(), &existing) == 0 || errno != ENOENT) return false;
    if (mkdir(stagedPath.c_str(), 0700) != 0) return false;
    const std::filesystem::path stagedLock = stagedPath / kLockName;
    int fd = open(stagedLock.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const bool locked = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (!locked || rename(stagedPath.c_str(), finalPath.c_str()) != 0) {
        if (fd >= 0) {
            unlink(stagedLock.c_str());
            close(fd);
        }
        rmdir(stagedPath.c_str());
        return false;
    }
    m_path = finalPath;
    m_lockPath = finalPath / kLockName;
    m_lockFd = fd;
    return true;
}

void CInstanceFolder::ReleaseLock() {
    if (m_lockFd < 0) return;
    unlink(m_lockPath.c_str());
    close(m_lockFd);
    m_lockFd = -1;
}

int RemoveStaleInstanceFolders(const std::filesystem::path& temporaryRoot) {
    if (temporaryRoot.empty() || !temporaryRoot.is_absolute()) return 0;
    const UniqueFd rootFd(open(temporaryRoot.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (rootFd.Get() < 0 || !IsOwnDirectoryFd(rootFd.Get())) return 0;
    int removed = 0;
    for (const std::string& name : ListInstanceFolderNames(rootFd.Get()))
        if (RemoveIfStale(rootFd.Get(), temporaryRoot, name)) ++removed;
    return removed;
}

}  // namespace vexel
