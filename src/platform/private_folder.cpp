#include "platform/private_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace vexel {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Opens one component below parentFd without following a link, making it first if asked.
int OpenComponent(int parentFd, const char* name, bool create) {
    if (create && mkdirat(parentFd, name, 0700) != 0 && errno != EEXIST) return -1;
    return openat(parentFd, name, kFolderFlags);
}

// Owned by us and closed to others; a wider mode of our own folder is narrowed.
bool MakePrivate(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid()) return false;
    if ((info.st_mode & 077) != 0 && fchmod(fd, 0700) != 0) return false;
    return true;
}

int OpenFolder(const std::filesystem::path& folder, bool create) {
    if (folder.empty() || !folder.is_absolute() || !folder.has_parent_path()) return -1;
    const std::filesystem::path parent = folder.parent_path();
    // The cache home itself may be a link the user made; the two levels below it may not.
    // A new account may have no cache home yet: made as the XDG rules ask, mode 0700.
    if (create) mkdir(parent.parent_path().c_str(), 0700);
    const int homeFd = open(parent.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (homeFd < 0) return -1;
    const int parentFd = OpenComponent(homeFd, parent.filename().c_str(), create);
    close(homeFd);
    if (parentFd < 0) return -1;
    const int fd = OpenComponent(parentFd, folder.filename().c_str(), create);
    close(parentFd);
    if (fd >= 0 && !MakePrivate(fd)) {
        close(fd);
        return -1;
    }
    return fd;
}

// glibc's dirent64 has the kernel's getdents64 record layout.
bool IsRegularEntry(int folderFd, const struct dirent64& entry) {
    if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_REG;
    struct stat info {};
    return fstatat(folderFd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(info.st_mode);
}

}  // namespace

std::filesystem::path CrashReportFolderPath(const std::filesystem::path& cacheHome) {
    if (cacheHome.empty()) return {};
    return cacheHome / "VexelViewer" / "crash";
}

int OpenPrivateFolder(const std::filesystem::path& folder) {
    return OpenFolder(folder, true);
}

int OpenExistingPrivateFolder(const std::filesystem::path& folder) {
    return OpenFolder(folder, false);
}

int CreatePrivateFile(int folderFd, const char* name) {
    return openat(folderFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

void ClearPrivateFolder(int folderFd) {
    // getdents64 rather than readdir: no allocation, so it may run in a signal handler.
    // Removing entries while reading moves the others, so the folder is read again from
    // the start until a pass removes nothing.
    alignas(struct dirent64) char buffer[4096];
    for (int pass = 0; pass < 64; ++pass) {
        if (lseek(folderFd, 0, SEEK_SET) != 0) return;
        bool removed = false;
        for (;;) {
            const long length = syscall(SYS_getdents64, folderFd, buffer, sizeof buffer);
            if (length <= 0) break;
            for (long at = 0; at < length;) {
                const auto& entry = *reinterpret_cast<const struct dirent64*>(buffer + at);
                at += entry.d_reclen;
                if (IsRegularEntry(folderFd, entry) && unlinkat(folderFd, entry.d_name, 0) == 0)
                    removed = true;
            }
        }
        if (!removed) return;
    }
}

}  // namespace vexel
