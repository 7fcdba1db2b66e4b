// The listing of huge and hostile values: texts stay within their cap (whole characters,
// whole numbers), counts stop at a bound, controls and direction overrides cannot reach a
// cell, and a file that shrinks under a listing gives empty values, whether the values were
// loaded at parse time or are still in the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/byte_builder.h"
#include "common/test_paths.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "dicom/tag_list.h"

namespace vexel {
namespace {

using test::ByteBuilder;

std::string Repeat(std::string_view piece, size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

std::string DoubleBytes(double value, size_t count) {
    std::string bytes(sizeof value, '\0');
    std::memcpy(bytes.data(), &value, sizeof value);  // little endian machine and file
    return Repeat(bytes, count);
}

const std::string kFFFD = "\xEF\xBF\xBD";

struct HostileValue {
    const char* what;
    uint16_t group, element;
    std::string value;  // as written, implicit VR (the dictionary's); even length
    std::string expectedText;  // what the value column shows
    std::string expectedCount;
};

const std::vector<HostileValue>& HostileValues() {
    static const std::vector<HostileValue> values = {
        {"50 MB UT of 'abc\\' quads: 1,024 characters, backslashes counted over 64 KiB",
         0x0040, 0xA160, Repeat("abc\\", 12'500'000), Repeat("abc\\", 256) + "...",
         ">=16385"},
        {"1 MB FD of ones: the whole numbers that fit 1,024 characters; exact count", 0x0018,
         0x9087, DoubleBytes(1.0, 131'072), Repeat("1\\", 511) + "1...", "131072"},
        {"controls become U+FFFD, tab and line breaks blanks, overrides and isolates U+FFFD",
         0x0008, 0x1030, "A\x01" "B\tC\r\nD\xE2\x80\xAE" "E\xE2\x81\xA6" "F\xE2\x80\x8FG\x7F ",
         "A" + kFFFD + "B C  D" + kFFFD + "E" + kFFFD + "F\xE2\x80\x8FG" + kFFFD, "1"},
        {"2,000 two-byte characters: 1,024 whole ones", 0x0032, 0x4000,
         Repeat("\xC3\xA9", 2000), Repeat("\xC3\xA9", 1024) + "...", "1"},
        {"3-byte characters cut by the 4 KiB head: 1,024 whole ones", 0x0010, 0x4000,
         Repeat("\xE2\x82\xAC", 2000), Repeat("\xE2\x82\xAC", 1024) + "...", "1"},
        {"bytes that are not UTF-8", 0x0010, 0x0020, "a\xFF\xC3(b\xED\xA0\x80",
         "a" + kFFFD + kFFFD + "(b" + kFFFD + kFFFD + kFFFD, "1"},
    };
    return values;
}

class TagListCapsTest : public testing::TestWithParam<bool> {
protected:
    static void SetUpTestSuite() {
        s_path = test::ScratchDir("tag-list-caps") / "hostile.dcm";
        ByteBuilder bytes;
        // Implicit VR: an FD this long has no explicit VR form (16-bit length).
        bytes.Preamble().Meta("1.2.840.10008.1.2");
        bytes.Implicit(0x0008, 0x0005, "ISO_IR 192");
        std::vector<const HostileValue*> ordered;  // a data set is in ascending tag order
        for (const HostileValue& v : HostileValues()) ordered.push_back(&v);
        std::sort(ordered.begin(), ordered.end(), [](auto* a, auto* b) {
            return std::pair(a->group, a->element) < std::pair(b->group, b->element);
        });
        for (const HostileValue* v : ordered) bytes.Implicit(v->group, v->element, v->value);
        ASSERT_TRUE(bytes.WriteTo(s_path));
    }

    static std::vector<TagListRow> Rows(CDicomFile& file) {
        file.SetDeferredValues(GetParam());
        EXPECT_EQ(ReadDicomFile(file, s_path.string()), ReadStatus::Ok);
        return BuildTagList(file);
    }

    static const TagListRow* Find(const std::vector<TagListRow>& rows, const HostileValue& v) {
        for (const TagListRow& row : rows)
            if (row.group == v.group && row.element == v.element) return &row;
        return nullptr;
    }

    static inline std::filesystem::path s_path;
};

TEST_P(TagListCapsTest, ValuesListWithinTheirCaps) {
    CDicomFile file;
    const std::vector<TagListRow> rows = Rows(file);
    for (const HostileValue& v : HostileValues()) {
        SCOPED_TRACE(v.what);
        const TagListRow* row = Find(rows, v);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->valueText, v.expectedText);
        EXPECT_EQ(row->countText, v.expectedCount);
        EXPECT_EQ(row->lengthText, std::to_string(v.value.size()));
    }
}

// The file shrinks after the parse: values still in it give empty texts and open counts;
// counts that follow from the length stay.
TEST_P(TagListCapsTest, ShrunkenFileListsWithoutItsValues) {
    CDicomFile file;
    Rows(file);
    std::filesystem::resize_file(s_path, 4096);
    const std::vector<TagListRow> rows = BuildTagList(file);
    const TagListRow* text = Find(rows, HostileValues()[0]);
    const TagListRow* numbers = Find(rows, HostileValues()[1]);
    ASSERT_TRUE(text && numbers);
    EXPECT_EQ(numbers->countText, "131072");
    if (!file.FindElement(0x0040A160)->HasValue()) {  // nothing of the UT was read
        EXPECT_EQ(text->valueText, "");
        EXPECT_EQ(text->countText, ">=0");
    }
    SetUpTestSuite();  // the next test reads the whole file again
}

INSTANTIATE_TEST_SUITE_P(Values, TagListCapsTest, testing::Values(true, false),
                         [](const auto& param) { return param.param ? "Deferred" : "Loaded"; });

// A big-endian US of odd length: the file's bytes and the whole values read the same,
// loaded or not (loaded, the swapped units came back in machine order).
TEST(TagListBigEndian, OddLengthNumbersReadAlikeLoadedOrNot) {
    const auto path = test::ScratchDir("tag-list-big-endian") / "odd.dcm";
    ByteBuilder bytes(true);
    bytes.Preamble().Meta("1.2.840.10008.1.2.2");
    bytes.Explicit(0x0028, 0x0010, "US", std::string("\x00\x01\x00\x02\xFF\x00", 5));
    ASSERT_TRUE(bytes.WriteTo(path));
    for (const bool deferred : {true, false}) {
        CDicomFile file;
        file.SetDeferredValues(deferred);
        ASSERT_EQ(ReadDicomFile(file, path.string()), ReadStatus::Ok);
        char read[5] = {};
        EXPECT_TRUE(file.ReadBytes(file.FindElement(0x00280010), read, 0, 5));
        EXPECT_EQ(std::string(read, 5), std::string("\x00\x01\x00\x02\xFF", 5)) << deferred;
        const std::vector<TagListRow> rows = BuildTagList(file);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows.back().valueText, "1\\2") << (deferred ? "deferred" : "loaded");
    }
}

}  // namespace
}  // namespace vexel
