#include "bench_corpus.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>

#include "phantom/phantom_writer.h"

namespace vexel::bench {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> ListDicomFiles(const fs::path& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.is_regular_file(ec) && entry.path().extension() == ".dcm") {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Dirty pages cannot be dropped: flush the fresh corpus once.
void FlushFiles(const std::vector<std::string>& files) {
    for (const std::string& path : files) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        fdatasync(fd);
        close(fd);
    }
}

}  // namespace

fs::path CorpusFolder(const fs::path& dataRoot, const CorpusShape& shape) {
    return dataRoot / ((shape.scannerHeaders ? "scanner-ct" : "ct") + std::to_string(shape.files));
}

std::vector<std::string> ListFolder(const fs::path& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.is_regular_file(ec)) files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> EnsureCtCorpus(const fs::path& dataRoot, const CorpusShape& shape,
                                        std::string* error) {
    const fs::path folder = CorpusFolder(dataRoot, shape);
    std::vector<std::string> files = ListDicomFiles(folder);
    if (files.size() == static_cast<size_t>(shape.files)) return files;

    std::error_code ec;
    fs::create_directories(dataRoot, ec);
    phantom::PhantomOptions options;
    options.columns = shape.columns;
    options.rows = shape.rows;
    options.slices = shape.files;
    options.scannerHeaders = shape.scannerHeaders;
    // The writer builds the series aside and renames it into place, so an interrupted run
    // never leaves a short corpus that a later run would take for complete.
    if (!phantom::WriteCtSeries(folder, options, error)) return {};
    files = ListDicomFiles(folder);
    if (files.size() != static_cast<size_t>(shape.files)) {
        *error = "expected " + std::to_string(shape.files) + " files in " + folder.string() +
                 ", found " + std::to_string(files.size());
        return {};
    }
    FlushFiles(files);
    return files;
}

void DropFromPageCache(const std::vector<std::string>& files) {
    for (const std::string& path : files) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        close(fd);
    }
}

double ResidentFraction(const std::vector<std::string>& files) {
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pageSize <= 0) return -1;
    const auto page = static_cast<size_t>(pageSize);
    size_t total = 0;
    size_t resident = 0;
    std::vector<unsigned char> flags;
    for (const std::string& path : files) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return -1;
        struct stat info {};
        if (fstat(fd, &info) != 0 || info.st_size == 0) {
            close(fd);
            continue;
        }
        const auto size = static_cast<size_t>(info.st_size);
        void* map = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
        close(fd);
        if (map == MAP_FAILED) return -1;
        const size_t pages = (size + page - 1) / page;
        flags.assign(pages, 0);
        const bool ok = mincore(map, size, flags.data()) == 0;
        munmap(map, size);
        if (!ok) return -1;
        total += pages;
        resident += static_cast<size_t>(
            std::count_if(flags.begin(), flags.end(), [](unsigned char f) { return f & 1; }));
    }
    return total == 0 ? -1 : static_cast<double>(resident) / static_cast<double>(total);
}

void WarmPageCache(const std::vector<std::string>& files) {
    std::vector<char> buffer(1 << 16);
    for (const std::string& path : files) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        while (read(fd, buffer.data(), buffer.size()) > 0) {
        }
        close(fd);
    }
}

}  // namespace vexel::bench
