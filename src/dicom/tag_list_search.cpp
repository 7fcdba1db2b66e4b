#include "dicom/tag_list_search.h"

#include <algorithm>
#include <charconv>

namespace vexel {
namespace {

constexpr char kSeparator = '\n';  // never in a row's texts: they are one line each

void AppendLower(std::string& out, std::string_view text) {
    for (const char c : text)
        out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool ParseHex16(std::string_view text, uint16_t& value) {
    if (text.size() != 4) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + 4, value, 16);
    return error == std::errc() && end == text.data() + 4;
}

}  // namespace

CTagListSearch::CTagListSearch(const std::vector<TagListRow>& rows) {
    m_rowEnd.reserve(rows.size());
    m_tags.reserve(rows.size());
    m_parent.reserve(rows.size());
    std::vector<uint32_t> open;  // the rows holding the current one, outermost first
    for (uint32_t i = 0; i < rows.size(); ++i) {
        const TagListRow& row = rows[i];
        AppendLower(m_text, row.tagText);
        m_text += kSeparator;
        AppendLower(m_text, row.name);
        m_text += kSeparator;
        AppendLower(m_text, row.valueText);
        m_text += kSeparator;
        m_rowEnd.push_back(m_text.size());
        m_tags.push_back(uint32_t{row.group} << 16 | row.element);
        while (!open.empty() && rows[open.back()].depth >= row.depth)
            open.pop_back();
        m_parent.push_back(open.empty() ? -1 : static_cast<int32_t>(open.back()));
        open.push_back(i);
    }
}

std::optional<uint32_t> CTagListSearch::ParseTag(std::string_view query) {
    if (query.size() == 11 && query.front() == '(' && query.back() == ')')
        query = query.substr(1, 9);
    uint16_t group = 0, element = 0;
    if (query.size() == 9 && query[4] == ',') {
        if (!ParseHex16(query.substr(0, 4), group) || !ParseHex16(query.substr(5), element))
            return std::nullopt;
    } else if (query.size() != 8 || !ParseHex16(query.substr(0, 4), group) ||
               !ParseHex16(query.substr(4), element)) {
        return std::nullopt;
    }
    return uint32_t{group} << 16 | element;
}

std::vector<uint32_t> CTagListSearch::Find(std::string_view query) const {
    std::vector<uint32_t> found;
    if (query.empty()) return found;
    std::string lower;
    AppendLower(lower, query);
    if (lower.find(kSeparator) == std::string::npos) {
        const std::string_view text(m_text);
        for (size_t at = text.find(lower); at != std::string_view::npos;) {
            const auto row = static_cast<uint32_t>(
                std::upper_bound(m_rowEnd.begin(), m_rowEnd.end(), at) - m_rowEnd.begin());
            found.push_back(row);
            at = text.find(lower, m_rowEnd[row]);  // one hit per row is enough
        }
    }
    const std::optional<uint32_t> tag = ParseTag(query);
    if (!tag) return found;
    std::vector<uint32_t> merged;
    merged.reserve(found.size());
    auto next = found.begin();
    for (uint32_t row = 0; row < m_tags.size(); ++row) {
        const bool hit = next != found.end() && *next == row;
        if (hit) ++next;
        if (hit || m_tags[row] == *tag) merged.push_back(row);
    }
    return merged;
}

std::vector<uint32_t> CTagListSearch::WithParents(const std::vector<uint32_t>& matches) const {
    std::vector<char> shown(m_parent.size(), 0);
    for (const uint32_t match : matches) {
        for (int32_t row = static_cast<int32_t>(match); row >= 0 && !shown[row];
             row = m_parent[row]) {
            shown[row] = 1;
        }
    }
    std::vector<uint32_t> rows;
    for (uint32_t row = 0; row < shown.size(); ++row)
        if (shown[row]) rows.push_back(row);
    return rows;
}

std::optional<uint32_t> CTagListSearch::Step(const std::vector<uint32_t>& matches,
                                             std::optional<uint32_t> from, bool forward) {
    if (matches.empty()) return std::nullopt;
    if (!from) return forward ? matches.front() : matches.back();
    if (forward) {
        const auto next = std::upper_bound(matches.begin(), matches.end(), *from);
        return next == matches.end() ? matches.front() : *next;
    }
    const auto next = std::lower_bound(matches.begin(), matches.end(), *from);
    return next == matches.begin() ? matches.back() : *(next - 1);
}

}  // namespace vexel
