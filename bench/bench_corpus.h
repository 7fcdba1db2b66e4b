// The benchmark corpus: a folder of phantom CT slices written once under the build tree and
// reused by later runs, plus page-cache control for cold-read runs.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vexel::bench {

struct CorpusShape {
    int files = 1000;
    int columns = 256;
    int rows = 256;
    // Slices with a scanner's headers (about 270 elements, large private OB/OW/UN blocks).
    bool scannerHeaders = false;
};

// <dataRoot>/ct<files>, or <dataRoot>/scanner-ct<files> with scanner headers: reused when
// it holds the expected number of slices, otherwise written again. Returns the sorted file
// list, empty with a reason on failure.
std::vector<std::string> EnsureCtCorpus(const std::filesystem::path& dataRoot,
                                        const CorpusShape& shape, std::string* error);
// The folder EnsureCtCorpus uses for shape.
std::filesystem::path CorpusFolder(const std::filesystem::path& dataRoot,
                                   const CorpusShape& shape);
// Every regular file of folder (any name), sorted: a series written by someone else.
std::vector<std::string> ListFolder(const std::filesystem::path& folder);

// Asks the kernel to forget the cached pages of each file (POSIX_FADV_DONTNEED). Only clean
// pages go, so the corpus is flushed to disc once when it is written.
void DropFromPageCache(const std::vector<std::string>& files);

// Share of the corpus's pages resident in the page cache, 0..1 (mincore), or -1 when it
// cannot be told. Says how cold a "cold" run really was.
double ResidentFraction(const std::vector<std::string>& files);

// Reads every byte once so that a warm run starts with the whole corpus cached.
void WarmPageCache(const std::vector<std::string>& files);

}  // namespace vexel::bench
