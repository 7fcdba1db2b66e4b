#include "dicom/dcmdump_listing.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace vexel::test {
namespace {

bool ParseHex16(std::string_view text, uint16_t& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// +Qn prints "&#NN;" for non-ASCII and control characters and the five XML entities.
std::string DecodeMarkup(std::string_view text) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const size_t semicolon = text.find(';', i);
        if (text[i] == '&' && semicolon != std::string_view::npos) {
            const std::string_view entity = text.substr(i, semicolon + 1 - i);
            const auto named = std::find_if(std::begin(kEntities), std::end(kEntities),
                                            [&](const auto& e) { return e.first == entity; });
            if (named != std::end(kEntities) || entity.starts_with("&#")) {
                const bool hex = entity.starts_with("&#x");
                const std::string digits(entity.substr(hex ? 3 : 2));
                out +=
                    named != std::end(kEntities)
                        ? named->second
                        : static_cast<char>(std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10));
                i = semicolon + 1;
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

void ParseValue(std::string_view value, DumpRow& row) {
    if (value == "(no value available)") {
        row.kind = DumpRow::Kind::Empty;
    } else if (value == "(not loaded)") {
        row.kind = DumpRow::Kind::NotLoaded;
    } else if (value.starts_with("(Sequence") || value.starts_with("(Item") ||
               value.starts_with("(PixelSequence")) {
        row.kind = DumpRow::Kind::Container;
    } else if (value.starts_with("\"Directory Record\"")) {
        row.kind = DumpRow::Kind::Container;  // a DICOMDIR record item
    } else if (value.starts_with("(ItemDelimitation") ||
               value.starts_with("(SequenceDelimitation") ||
               value.starts_with("\"ItemDelimitation")) {
        row.kind = DumpRow::Kind::Delimiter;
    } else if (value.size() >= 2 && value.front() == '[' && value.back() == ']') {
        row.value = DecodeMarkup(value.substr(1, value.size() - 2));
    } else {
        row.value = DecodeMarkup(value);
    }
}

// "(gggg,eeee) VR value   # length, vm Name"; the comment starts at the last '#'.
bool ParseLine(std::string_view line, DumpRow& row) {
    const size_t indent = line.find_first_not_of(' ');
    if (indent == std::string_view::npos || line[indent] != '(') return false;
    std::string_view rest = line.substr(indent);
    if (rest.size() < 15 || rest[5] != ',' || rest[10] != ')' || rest[11] != ' ') return false;
    if (!ParseHex16(rest.substr(1, 4), row.group) || !ParseHex16(rest.substr(6, 4), row.element)) {
        return false;
    }
    row.depth = static_cast<int>(indent / 2);
    row.vr = std::string(rest.substr(12, 2));
    const size_t hash = rest.rfind('#');
    if (hash == std::string_view::npos || hash < 15) return false;
    std::string_view value = rest.substr(15, hash - 15);
    while (!value.empty() && value.back() == ' ')
        value.remove_suffix(1);
    ParseValue(value, row);

    std::string_view comment = rest.substr(hash + 1);
    comment.remove_prefix(std::min(comment.find_first_not_of(' '), comment.size()));
    const size_t comma = comment.find(',');
    if (comma == std::string_view::npos) return false;
    const std::string_view length = comment.substr(0, comma);
    if (length == "u/l") {
        row.length = 0xFFFFFFFFu;
    } else if (std::from_chars(length.data(), length.data() + length.size(), row.length).ec !=
               std::errc()) {
        return false;
    }
    std::string_view vm = comment.substr(comma + 1);
    vm.remove_prefix(std::min(vm.find_first_not_of(' '), vm.size()));
    std::from_chars(vm.data(), vm.data() + vm.size(), row.vm);
    row.line = std::string(line);
    return true;
}

}  // namespace

std::vector<DumpRow> ParseDcmdump(std::string_view output) {
    std::vector<DumpRow> rows;
    while (!output.empty()) {
        const size_t end = output.find('\n');
        const std::string_view line = output.substr(0, end);
        DumpRow row;
        if (ParseLine(line, row)) rows.push_back(std::move(row));
        if (end == std::string_view::npos) break;
        output.remove_prefix(end + 1);
    }
    return rows;
}

std::vector<std::string> SplitValues(std::string_view value) {
    std::vector<std::string> parts;
    for (;;) {
        const size_t slash = value.find('\\');
        parts.emplace_back(value.substr(0, slash));
        if (slash == std::string_view::npos) break;
        value.remove_prefix(slash + 1);
    }
    return parts;
}

}  // namespace vexel::test
