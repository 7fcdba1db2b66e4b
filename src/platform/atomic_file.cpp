#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view contents) {
    if (path.empty() || !path.has_filename()) return false;
    const std::filesystem::path target = FollowLink(path);
    const std::filesystem::path folder = target.parent_path();
    std::string hiddenName = ".";
    hiddenName += target.filename().string();
    hiddenName += ".XXXXXX";
    std::string temporary = (folder / hiddenName).string();
    int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return false;
    struct stat old {};
    if (stat(target.c_str(), &old) == 0) fchmod(fd, old.st_mode & 07777);
    bool ok = WriteAll(fd, contents) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok) ok = rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(temporary.c_str());
        return false;
    }
    SyncFolder(folder.empty() ? std::filesystem::path(".") : folder);
    return true;
}

}  // namespace vexel
