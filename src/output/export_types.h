// What an export writes: the file formats and the sizes an item can be rendered at.
#pragma once

#include <cstdint>

namespace vexel {

enum class ExportFormat : uint32_t { Bmp = 0, Jpeg = 1, Wmv = 2, Mp4 = 3 };

inline bool IsMovie(ExportFormat format) {
    return format == ExportFormat::Wmv || format == ExportFormat::Mp4;
}

}  // namespace vexel
