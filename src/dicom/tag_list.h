// The rows of a file's element listing: every element depth-first in file order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vexel {

class CDicomFile;

struct TagListRow {
    uint16_t group = 0;
    uint16_t element = 0;
    uint32_t depth = 0;
    std::string tagText;     // "(gggg,eeee)" after 3 blanks per depth level (at most 100)
    std::string vrText;
    std::string lengthText;  // "%u", or "Undefined"
    std::string name;        // dictionary name, "Unknown" for private and unlisted tags
    std::string valueText;   // one line, at most kTagListValueChars characters then "..."
    std::string countText;   // "n", or ">=n" when only part of the value could be counted
    uint32_t length = 0;     // as declared in the file (containers too)
    bool undefinedLength = false;
};

// A value's text is made from at most its first kTagListValueBytes bytes, whether the value
// is in memory or still in the file, so a listing looks the same in every process, and
// shows at most kTagListValueChars characters of it.
inline constexpr uint32_t kTagListValueBytes = 4096;
inline constexpr size_t kTagListValueChars = 1024;
// Backslashes of a multi-valued text are counted over at most this many bytes.
inline constexpr uint32_t kTagListCountBytes = 64 * 1024;

std::vector<TagListRow> BuildTagList(CDicomFile& file);

}  // namespace vexel
