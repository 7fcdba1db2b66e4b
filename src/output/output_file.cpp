#include "output/output_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

namespace vexel {
namespace {

std::string ErrnoText(const std::filesystem::path& path, int error) {
    return path.string() + ": " + std::generic_category().message(error);
}

void SetError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

// A short name independent of the final one, so a final name near NAME_MAX still has a
// temporary name.
std::string TemporaryName() {
    thread_local std::mt19937_64 random{std::random_device{}()};
    char name[40];
    std::snprintf(name, sizeof name, ".vexel-export-%016llx.part",
                  static_cast<unsigned long long>(random()));
    return name;
}

// File systems without hard links (FAT, exFAT) refuse link() with one of these.
bool NoHardLinks(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS;
}

// rename that refuses an existing target. Where the kernel or file system cannot do that
// atomically, the target is checked first: only a file created in between is replaced.
int RenameNoReplace(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    struct stat status {};
    if (lstat(to, &status) == 0) {
        errno = EEXIST;
        return -1;
    }
    return rename(from, to);
}

}  // namespace

std::optional<COutputFile> COutputFile::Create(const std::filesystem::path& finalPath,
                                               std::string* error) {
    if (!finalPath.has_filename()) {
        SetError(error, finalPath.string() + ": no file name");
        return std::nullopt;
    }
    const std::filesystem::path folder =
        finalPath.has_parent_path() ? finalPath.parent_path() : std::filesystem::path(".");
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        SetError(error, folder.string() + ": not a folder");
        return std::nullopt;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::filesystem::path temp = folder / TemporaryName();
        const int fd =
            open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) {
            SetError(error, ErrnoText(temp, errno));
            return std::nullopt;
        }
        close(fd);
        return COutputFile(finalPath, std::move(temp));
    }
    SetError(error, folder.string() + ": no free temporary name");
    return std::nullopt;
}

COutputFile::COutputFile(std::filesystem::path finalPath, std::filesystem::path tempPath)
    : m_finalPath(std::move(finalPath)), m_tempPath(std::move(tempPath)) {}

COutputFile::COutputFile(COutputFile&& other) noexcept
    : m_finalPath(std::move(other.m_finalPath)), m_tempPath(std::move(other.m_tempPath)) {
    other.m_tempPath.clear();
}

COutputFile& COutputFile::operator=(COutputFile&& other) noexcept {
    if (this != &other) {
        RemoveTemp();
        m_finalPath = std::move(other.m_finalPath);
        m_tempPath = std::move(other.m_tempPath);
        other.m_tempPath.clear();
    }
    return *this;
}

COutputFile::~COutputFile() {
    RemoveTemp();
}

void COutputFile::RemoveTemp() {
    if (!m_tempPath.empty()) unlink(m_tempPath.c_str());
    m_tempPath.clear();
}

bool COutputFile::Commit(bool replace, std::string* error) {
    if (m_tempPath.empty()) {
        SetError(error, m_finalPath.string() + ": already committed or removed");
        return false;
    }
    const char* temp = m_tempPath.c_str();
    const char* target = m_finalPath.c_str();
    bool linked = false;
    int result = -1;
    if (replace) {
        result = rename(temp, target);
    } else {
        result = link(temp, target);
        linked = result == 0;
        if (result != 0 && NoHardLinks(errno)) result = RenameNoReplace(temp, target);
    }
    if (result != 0) {
        SetError(error, errno == EEXIST ? std::string("exists") : ErrnoText(m_finalPath, errno));
        RemoveTemp();
        return false;
    }
    // After link() the temporary name is a second name of the final file; a rename took it.
    if (linked) RemoveTemp();
    m_tempPath.clear();
    return true;
}

bool COutputFile::Exists(const std::filesystem::path& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

}  // namespace vexel
