#include "common/test_paths.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "dicom/dicom_dictionary.h"

namespace vexel::test {

std::filesystem::path SourceDir() {
    return VEXEL_SOURCE_DIR;
}
std::filesystem::path BinaryDir() {
    return VEXEL_BINARY_DIR;
}

std::filesystem::path TestDataDir() {
    if (const char* env = std::getenv("VEXEL_TESTDATA"); env && *env) return env;
    return SourceDir().parent_path() / "shared" / "testdata";
}

bool HaveTestData() {
    return std::filesystem::is_directory(TestDataDir() / "oracle");
}

// ctest runs each test in its own process, several at once: each gets its own scratch tree,
// removed at exit (after static destructors: the path itself is never destroyed).
static const std::filesystem::path& ScratchRoot() {
    static const std::filesystem::path& root = *new std::filesystem::path([] {
        std::filesystem::path dir = BinaryDir() / "test-scratch" / ("p" + std::to_string(getpid()));
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ScratchRoot(), ignored);
        });
        return dir;
    }());
    return root;
}

std::filesystem::path ScratchDir(const std::string& name) {
    std::error_code ec;
    std::filesystem::remove_all(ScratchRoot() / name, ec);
    std::filesystem::create_directories(ScratchRoot() / name);
    return ScratchRoot() / name;
}

bool HaveProgram(const std::string& name) {
    int code = 0;
    RunCommand("command -v " + name + " >/dev/null 2>&1", &code);
    return code == 0;
}

std::string RunCommand(const std::string& command, int* exitCode) {
    std::string output;
    int status = -1;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        std::array<char, 65536> buffer;
        for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
            output.append(buffer.data(), n);
        status = pclose(pipe);
    }
    if (exitCode) *exitCode = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<int> ReadNetpbm(const std::filesystem::path& path, int* columns) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int width = 0, height = 0, maxval = 0;
    in >> magic >> width >> height >> maxval;
    in.get();
    if (columns) *columns = width;
    std::vector<int> samples;
    const size_t count = size_t(width) * height * (magic == "P6" ? 3 : 1);
    for (size_t i = 0; i < count && in; ++i) {
        const int high = in.get();
        samples.push_back(maxval > 255 ? high << 8 | in.get() : high);
    }
    return in && (magic == "P5" || magic == "P6") ? samples : std::vector<int>();
}

}  // namespace vexel::test

// Test entry: the process-wide dictionary exists for the whole run, as in the programs.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    vexel::CDicomDictionary dictionary;
    return RUN_ALL_TESTS();
}
