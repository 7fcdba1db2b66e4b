// The vexel command as the cli tests run it, and the Netpbm files it writes.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/test_paths.h"

namespace vexel::test {

inline std::string Vexel() {
    return (BinaryDir() / "bin" / "vexel").string();
}

inline std::string Quote(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

// Samples of a binary PGM (16-bit big-endian words) or PPM (bytes); empty when cut short.
inline std::vector<int> ReadNetpbm(const std::filesystem::path& path, int* columns = nullptr) {
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
    return in ? samples : std::vector<int>();
}

}  // namespace vexel::test
