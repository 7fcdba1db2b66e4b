// The built-in English text table that every user-interface text is looked up in.
#pragma once

#include <cstdint>
#include <span>

namespace vexel {

enum class TextKind : uint32_t {
    Section = 0,    // names the group of rows that follows; never looked up
    Text = 1,       // one line
    MultiLine = 2,  // holds a line break; looked up like Text
};

struct TextRow {
    uint32_t id;
    TextKind kind;
    const char* text;  // UTF-8
};

// Every row in display order, group titles included.
std::span<const TextRow> BuiltInTextTable();

}  // namespace vexel
