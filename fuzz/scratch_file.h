// Fuzz inputs that must be files (the reader reopens files for deferred values): one
// scratch file per fuzzer process, rewritten for each input.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

inline bool WriteScratchFile(const char* name, const uint8_t* data, size_t size, std::string& path) {
    static const std::string base = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/vexel-fuzz-" + std::to_string(getpid());
    }();
    path = base + "-" + name + ".dcm";
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    const bool written = std::fwrite(data, 1, size, out) == size;
    return std::fclose(out) == 0 && written;
}
