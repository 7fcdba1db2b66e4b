// Where the tests find the project, the build and the shared real-world corpus.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vexel::test {

std::filesystem::path SourceDir();
std::filesystem::path BinaryDir();
// ../shared/testdata beside the project, or $VEXEL_TESTDATA when set.
std::filesystem::path TestDataDir();
bool HaveTestData();
// A fresh empty folder under the build tree for one test's files.
std::filesystem::path ScratchDir(const std::string& name);
// True when the program is on PATH (dcmdump, gdcmdump, ...).
bool HaveProgram(const std::string& name);
// Runs a shell command and returns its standard output; exitCode receives the status.
std::string RunCommand(const std::string& command, int* exitCode = nullptr);
// The whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
// Samples of a binary PGM (16-bit big-endian words when maxval > 255) or PPM; empty when cut
// short or not Netpbm.
std::vector<int> ReadNetpbm(const std::filesystem::path& path, int* columns = nullptr);
// The built vexel command, and a path quoted for the shell.
inline std::string Vexel() { return (BinaryDir() / "bin" / "vexel").string(); }
inline std::string Quote(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

}  // namespace vexel::test

// Skips the test with a printed reason when the shared corpus is absent.
#define VEXEL_REQUIRE_TESTDATA()                                                             \
    do {                                                                                     \
        if (!::vexel::test::HaveTestData())                                                  \
            GTEST_SKIP() << "shared test data not found at " << ::vexel::test::TestDataDir() \
                         << "; set VEXEL_TESTDATA";                                          \
    } while (0)
