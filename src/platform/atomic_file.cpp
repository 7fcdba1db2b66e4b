#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

namespace vexel {
namespace {

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The rename is only durable once the folder itself is flushed; failing that is not fatal.
void SyncFolder(const std::filesystem::path& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

std::filesystem::path FollowLink(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec)) return path;
    std::filesystem::path target = std::filesystem::canonical(path, ec);
    return ec ? path : target;
}

// The name mkostemp makes from ".NAME.XXXXXX": six letters or digits after the prefix.
bool IsTemporaryName(const std::string& name, const std::string& prefix) {
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
    }
    return true;
}

// True while the path still names the open file (nobody removed or replaced it).
bool StillNamed(int fd, const std::string& path) {
    struct stat open {};
    struct stat named {};
    return fstat(fd, &open) == 0 && lstat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// A writer holds an exclusive lock on its temporary file until the rename, which is how
// the clean-up tells a live writer's file from a dead one's. A clean-up may take a new file
// between its creation and the lock: the writer then finds it gone and makes another.
int CreateLockedTemporary(std::string& name) {
    const std::string pattern = name;
    for (int attempt = 0; attempt < 8; ++attempt) {
        name = pattern;
        const int fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) return -1;
        int locked = flock(fd, LOCK_EX);
        while (locked != 0 && errno == EINTR) locked = flock(fd, LOCK_EX);
        if (locked == 0 && StillNamed(fd, name)) return fd;
        close(fd);
    }
    return -1;
}

}  // namespace

void RemoveStaleTemporaryFiles(const std::filesystem::path& path) {
    if (path.empty() || !path.has_filename()) return;
    const std::filesystem::path target = FollowLink(path);
    const std::filesystem::path folder =
        target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
    const std::string prefix = "." + target.filename().string() + ".";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (!IsTemporaryName(name, prefix)) continue;
        const std::string full = entry.path().string();
        // O_NOFOLLOW refuses links; O_NONBLOCK keeps a FIFO of that name from blocking.
        const int fd = open(full.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat status {};
        if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
            flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, full)) {
            unlink(full.c_str());
        }
        close(fd);
    }
}

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view contents) {
    if (path.empty() || !path.has_filename()) return false;
    const std::filesystem::path target = FollowLink(path);
    const std::filesystem::path folder = target.parent_path();
    std::string hiddenName = ".";
    hiddenName += target.filename().string();
    hiddenName += ".XXXXXX";
    std::string temporary = (folder / hiddenName).string();
    int fd = CreateLockedTemporary(temporary);
    if (fd < 0) return false;
    struct stat old {};
    if (stat(target.c_str(), &old) == 0) fchmod(fd, old.st_mode & 07777);
    // Renamed while still locked: once the lock goes, a clean-up may take the file.
    const bool ok = WriteAll(fd, contents) && fsync(fd) == 0 &&
                    rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    close(fd);
    if (!ok) return false;
    SyncFolder(folder.empty() ? std::filesystem::path(".") : folder);
    return true;
}

}  // namespace vexel
