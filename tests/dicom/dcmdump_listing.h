// DCMTK's dcmdump output turned back into rows, for comparing our element tree with an
// independent reader. Expects `dcmdump -q +L -M -Un +Qn`: whole values, no UID names, and
// non-ASCII or control characters quoted as XML character references.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexel::test {

struct DumpRow {
    enum class Kind { Value, Empty, NotLoaded, Container, Delimiter };

    int depth = 0;
    uint16_t group = 0;
    uint16_t element = 0;
    std::string vr;  // as printed: "UL", "na", "pi", "??", "ox", "xs", ...
    uint32_t length = 0;
    uint32_t vm = 0;
    Kind kind = Kind::Value;
    std::string value;  // the bytes between the brackets, references decoded
    std::string line;   // the printed line, for messages
};

// The element rows of one dump in print order; comment and hex-dump lines are dropped.
std::vector<DumpRow> ParseDcmdump(std::string_view output);

// Splits a printed multi-value ("1\2\3") at its backslashes.
std::vector<std::string> SplitValues(std::string_view value);

}  // namespace vexel::test
