#include "engine/dicom_dir_name.h"

#include <cctype>

namespace vexel {

bool IsDicomDirPath(std::string_view path) {
    constexpr std::string_view kName = "dicomdir";
    if (path.size() < kName.size() + 1) return false;
    const std::string_view tail = path.substr(path.size() - kName.size());
    for (size_t i = 0; i < kName.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(tail[i])) != kName[i]) return false;
    }
    return true;
}

}  // namespace vexel
