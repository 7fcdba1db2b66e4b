// Search over a listing against a plain scan written here: every row whose texts hold the
// query (ASCII case ignored) or whose tag the query names, and the rows that hold them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "common/byte_builder.h"
#include "common/test_paths.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "dicom/tag_list.h"
#include "dicom/tag_list_search.h"

namespace vexel {
namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return text;
}

// "0010,0010", "00100010" and "(0010,0010)" name a tag; the scan accepts upper and lower case.
bool NamesTag(const std::string& query, const TagListRow& row) {
    char tag[16];
    std::snprintf(tag, sizeof tag, "%04x%04x", row.group, row.element);
    std::string q = Lower(query);
    if (q.size() == 11 && q.front() == '(' && q.back() == ')') q = q.substr(1, 9);
    if (q.size() == 9 && q[4] == ',') q.erase(4, 1);
    return q == tag;
}

std::vector<uint32_t> PlainScan(const std::vector<TagListRow>& rows, const std::string& query) {
    std::vector<uint32_t> found;
    if (query.empty()) return found;
    const std::string q = Lower(query);
    for (uint32_t i = 0; i < rows.size(); ++i) {
        const TagListRow& r = rows[i];
        if (Lower(r.tagText).find(q) != std::string::npos ||
            Lower(r.name).find(q) != std::string::npos ||
            Lower(r.valueText).find(q) != std::string::npos || NamesTag(query, r)) {
            found.push_back(i);
        }
    }
    return found;
}

// The rows found and, for each, every row above it of smaller depth up to the top level.
std::vector<uint32_t> PlainParents(const std::vector<TagListRow>& rows,
                                   const std::vector<uint32_t>& found) {
    std::vector<bool> shown(rows.size());
    for (const uint32_t row : found) {
        shown[row] = true;
        uint32_t depth = rows[row].depth;
        for (uint32_t up = row; up-- > 0 && depth > 0;) {
            if (rows[up].depth < depth) shown[up] = true, depth = rows[up].depth;
        }
    }
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < rows.size(); ++i)
        if (shown[i]) out.push_back(i);
    return out;
}

// Nested sequences with names, UIDs, an "é" and a backslash, plus some corpus files.
std::vector<std::vector<TagListRow>> Listings() {
    using test::ByteBuilder;
    ByteBuilder item, inner, bytes;
    inner.Explicit(0x0010, 0x0010, "PN", "Inner^Name");
    item.Explicit(0x0008, 0x1150, "UI", "1.2.840.10008.5.1.4.1.1.20")
        .ExplicitHeader(0x0008, 0x1199, "SQ", uint32_t(inner.Size() + 8))
        .Item(uint32_t(inner.Size())).Raw(inner.Bytes());
    bytes.Preamble().Meta("1.2.840.10008.1.2.1");
    bytes.Explicit(0x0008, 0x0005, "CS", "ISO_IR 192")
        .ExplicitHeader(0x0008, 0x1140, "SQ", 0xFFFFFFFF)
        .Item(uint32_t(item.Size())).Raw(item.Bytes()).SequenceEnd()
        .Explicit(0x0010, 0x0010, "PN", "M\xC3\xBCller^J\xC3\xA9r\xC3\xB4me")
        .Explicit(0x0010, 0x0020, "LO", "ID\\00100010");
    const auto path = test::ScratchDir("tag-list-search") / "nested.dcm";
    EXPECT_TRUE(bytes.WriteTo(path));
    std::vector<std::string> paths = {path.string()};
    if (test::HaveTestData()) {
        for (const char* file : {"pydicom/test_files/rtplan.dcm", "pydicom/test_files/CT_small.dcm",
                                 "pydicom/charset_files/chrH32.dcm"})
            paths.push_back((test::TestDataDir() / file).string());
    } else {
        std::printf("shared test data not found: searching the built file alone\n");
    }
    std::vector<std::vector<TagListRow>> listings;
    for (const std::string& p : paths) {
        CDicomFile file;
        file.SetDeferredValues(true);
        EXPECT_EQ(ReadDicomFile(file, p), ReadStatus::Ok) << p;
        listings.push_back(BuildTagList(file));
    }
    // The built file nests a name in an item of a sequence in an item.
    EXPECT_TRUE(std::any_of(listings[0].begin(), listings[0].end(),
                            [](const TagListRow& r) { return r.depth == 4 && r.element == 0x0010; }));
    return listings;
}

TEST(TagListSearch, FindsWhatAPlainScanFinds) {
    const char* queries[] = {"patient", "PATIENT", "NaMe", "0010,0010", "00100010", "(0010,0010)",
                             "(0008,1140)", "7fe00010", "(7FE0", "fffe,e000", "1.2.840", "\\",
                             "m\xC3\xBC" "ller", "J\xC3\xA9R", "0", "  (", "unknown", "...",
                             "no such text", "0010,001", "(0010,0010", "u", ""};
    for (const std::vector<TagListRow>& rows : Listings()) {
        const CTagListSearch search(rows);
        for (const char* query : queries) {
            SCOPED_TRACE(std::string("query [") + query + "]");
            const std::vector<uint32_t> expected = PlainScan(rows, query);
            const std::vector<uint32_t> found = search.Find(query);
            EXPECT_EQ(found, expected);
            EXPECT_EQ(search.WithParents(found), PlainParents(rows, expected));
        }
    }
}

TEST(TagListSearch, StepsThroughMatchesAndWrapsRound) {
    const std::vector<uint32_t> matches = {3, 7, 12};
    struct Step { std::optional<uint32_t> from; bool forward; std::optional<uint32_t> to; };
    const Step steps[] = {{std::nullopt, true, 3}, {std::nullopt, false, 12}, {3, true, 7},
                          {5, true, 7},  {12, true, 3},  {3, false, 12}, {8, false, 7},
                          {0, false, 12}, {20, true, 3}};
    for (const Step& s : steps)
        EXPECT_EQ(CTagListSearch::Step(matches, s.from, s.forward), s.to)
            << s.from.value_or(999) << (s.forward ? " forward" : " back");
    EXPECT_EQ(CTagListSearch::Step({}, 4, true), std::nullopt);
}

}  // namespace
}  // namespace vexel
