// Finding rows of an element listing by text: the tag, name and value texts are lower-cased
// once (ASCII letters; other UTF-8 passes through), so a keystroke over tens of thousands
// of rows is one pass over one buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dicom/tag_list.h"

namespace vexel {

class CTagListSearch {
public:
    explicit CTagListSearch(const std::vector<TagListRow>& rows);

    // Rows, in list order, whose tag, name or value text holds the query ignoring ASCII case,
    // or whose group and element the query names ("0010,0010", "00100010", "(0010,0010)").
    // None for an empty query.
    std::vector<uint32_t> Find(std::string_view query) const;

    // The matches and the sequence and item rows that hold them, in list order, so the
    // nesting of each match stays readable.
    std::vector<uint32_t> WithParents(const std::vector<uint32_t>& matches) const;

    // The first match after `from` (before it when !forward), wrapping round; the first
    // (last) match when from is null. None when there are no matches.
    static std::optional<uint32_t> Step(const std::vector<uint32_t>& matches,
                                        std::optional<uint32_t> from, bool forward);

    // The tag a query names, as group << 16 | element; none when it is no tag.
    static std::optional<uint32_t> ParseTag(std::string_view query);

private:
    std::string m_text;             // per row: tag, '\n', name, '\n', value, '\n'; lower-cased
    std::vector<size_t> m_rowEnd;   // offset just past each row's texts in m_text
    std::vector<uint32_t> m_tags;   // group << 16 | element per row
    std::vector<int32_t> m_parent;  // the row holding each row, or -1
};

}  // namespace vexel
