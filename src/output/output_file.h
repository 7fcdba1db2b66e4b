// An exported file written under a temporary name and given its final name only when complete,
// without ever replacing a file that is already there unless asked to.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vexel {

class COutputFile {
public:
    // Creates an empty hidden file with a unique name in finalPath's folder (mode 0644 before
    // the umask; never through a symbolic link) and closes it again: writers open TempPath()
    // themselves. nullopt, with the reason in error, when the folder is not an existing
    // directory or the file cannot be made.
    static std::optional<COutputFile> Create(const std::filesystem::path& finalPath,
                                             std::string* error);

    COutputFile(COutputFile&& other) noexcept;
    COutputFile& operator=(COutputFile&& other) noexcept;
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;
    // Removes the temporary file unless it was committed: a failed or cancelled item leaves
    // nothing behind.
    ~COutputFile();

    const std::filesystem::path& TempPath() const { return m_tempPath; }
    const std::filesystem::path& FinalPath() const { return m_finalPath; }

    // Gives the written file its final name. Without replace an existing file of that name
    // is kept as it is and the commit fails with error "exists". A failed commit removes the
    // temporary file; either way the object is spent.
    bool Commit(bool replace, std::string* error);

    // True when anything (file, folder, link, even a dangling one) has that name.
    static bool Exists(const std::filesystem::path& path);

private:
    COutputFile(std::filesystem::path finalPath, std::filesystem::path tempPath);
    void RemoveTemp();

    std::filesystem::path m_finalPath;
    std::filesystem::path m_tempPath;  // empty once committed or removed
};

}  // namespace vexel
