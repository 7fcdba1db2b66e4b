// The vexel command as the cli tests run it.
#pragma once

#include <filesystem>
#include <string>

#include "common/test_paths.h"

namespace vexel::test {

inline std::string Vexel() {
    return (BinaryDir() / "bin" / "vexel").string();
}

inline std::string Quote(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

}  // namespace vexel::test
