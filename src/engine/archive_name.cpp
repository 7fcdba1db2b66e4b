#include "engine/archive_name.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace vexel {

bool IsArchivePath(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".zip" || extension == ".dmz";
}

bool IsZipByContent(const std::string& path) {
    // Only regular files are read: a FIFO or a device would block or never end.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    std::ifstream file(path, std::ios::binary);
    char head[132] = {};
    file.read(head, sizeof head);
    const std::streamsize got = file.gcount();
    if (got < 4 || std::memcmp(head, "PK\3\4", 4) != 0) return false;
    return got < 132 || std::memcmp(head + 128, "DICM", 4) != 0;
}

}  // namespace vexel
