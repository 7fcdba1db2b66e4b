// The rows of a file's element listing: every element depth-first in file order.
#pragma once

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
    std::string valueText;
    std::string countText;
    uint32_t length = 0;     // as declared in the file (containers too)
    bool undefinedLength = false;
};

// At most this many bytes of a value that is still in the file are read for its text.
inline constexpr uint32_t kTagListValueBytes = 256;

std::vector<TagListRow> BuildTagList(CDicomFile& file);

}  // namespace vexel
