// Search over a listing against a plain scan written here: the rows whose texts hold the query
// (ASCII case ignored) or whose tag it names, and every row above each of smaller depth.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/byte_builder.h"
#include "common/test_paths.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "dicom/tag_list_search.h"

namespace vexel {
namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return text;
}

bool NamesTag(std::string q, const TagListRow& row) {
    char tag[16];
    std::snprintf(tag, sizeof tag, "%04x%04x", row.group, row.element);
    if (q.size() == 11 && q.front() == '(' && q.back() == ')') q = q.substr(1, 9);
    if (q.size() == 9 && q[4] == ',') q.erase(4, 1);
    return Lower(q) == tag;
}

// The rows found, then with their parents.
std::pair<std::vector<uint32_t>, std::vector<uint32_t>> PlainScan(
    const std::vector<TagListRow>& rows, const std::string& query) {
    std::vector<uint32_t> found, shown;
    std::vector<bool> show(rows.size());
    for (uint32_t i = 0; i < rows.size() && !query.empty(); ++i) {
        const TagListRow& r = rows[i];
        if (!NamesTag(query, r) && Lower(r.tagText + "\n" + r.name + "\n" + r.valueText)
                                           .find(Lower(query)) == std::string::npos)
            continue;
        found.push_back(i);
        show[i] = true;
        for (uint32_t up = i, depth = r.depth; up-- > 0 && depth > 0;)
            if (rows[up].depth < depth) show[up] = true, depth = rows[up].depth;
    }
    for (uint32_t i = 0; i < rows.size(); ++i)
        if (show[i]) shown.push_back(i);
    return {found, shown};
}

// A name in an item of a sequence in an item, UIDs, accents, a backslash; corpus files.
std::vector<std::string> Files() {
    test::ByteBuilder item, inner, bytes;
    inner.Explicit(0x0010, 0x0010, "PN", "Inner^Name");
    item.Explicit(0x0008, 0x1150, "UI", "1.2.840.10008.5.1.4.1.1.20")
        .ExplicitHeader(0x0008, 0x1199, "SQ", uint32_t(inner.Size() + 8))
        .Item(uint32_t(inner.Size())).Raw(inner.Bytes());
    bytes.Preamble().Meta("1.2.840.10008.1.2.1").Explicit(0x0008, 0x0005, "CS", "ISO_IR 192")
        .ExplicitHeader(0x0008, 0x1140, "SQ", 0xFFFFFFFF)
        .Item(uint32_t(item.Size())).Raw(item.Bytes()).SequenceEnd()
        .Explicit(0x0010, 0x0010, "PN", "M\xC3\xBCller^J\xC3\xA9r\xC3\xB4me")
        .Explicit(0x0010, 0x0020, "LO", "ID\\00100010");
    std::vector<std::string> files = {(test::ScratchDir("tag-list-search") / "nested.dcm").string()};
    EXPECT_TRUE(bytes.WriteTo(files[0]));
    if (!test::HaveTestData()) std::printf("shared test data not found: the built file alone\n");
    for (const char* file : {"pydicom/test_files/rtplan.dcm", "pydicom/charset_files/chrH32.dcm"})
        if (test::HaveTestData()) files.push_back((test::TestDataDir() / file).string());
    return files;
}

TEST(TagListSearch, FindsWhatAPlainScanFinds) {
    const char* queries[] = {"patient", "PATIENT", "0010,0010", "00100010", "(0010,0010)",
                             "(0008,1140)", "7fe00010", "(7FE0", "fffe,e000", "1.2.840", "\\",
                             "m\xC3\xBC" "ller", "J\xC3\xA9R", "0", "  (", "...", "no such text",
                             "0010,001", "(0010,0010", ""};
    for (const std::string& path : Files()) {
        CDicomFile file;
        ASSERT_EQ(ReadDicomFile(file, path), ReadStatus::Ok) << path;
        const std::vector<TagListRow> rows = BuildTagList(file);
        const CTagListSearch search(rows);
        for (const char* query : queries) {
            SCOPED_TRACE(path + " [" + query + "]");
            const auto [found, shown] = PlainScan(rows, query);
            EXPECT_EQ(search.Find(query), found);
            EXPECT_EQ(search.WithParents(found), shown);
        }
        if (path.ends_with("nested.dcm")) {  // the inner name comes with its four parents
            EXPECT_EQ(search.WithParents(search.Find("inner")).size(), 5u);
        }
    }
}

}  // namespace
}  // namespace vexel
