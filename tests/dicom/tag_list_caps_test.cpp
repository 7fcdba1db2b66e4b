// Huge and hostile values in the listing, loaded at parse time or left in the file: texts
// within their cap (whole characters, whole numbers), bounded counts, no controls or
// direction overrides, and empty values when the file shrinks under the listing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/byte_builder.h"
#include "common/test_paths.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "dicom/tag_list.h"

namespace vexel {
namespace {

std::string Repeat(std::string_view piece, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

const std::string kFFFD = "\xEF\xBF\xBD", kOne = std::string("\0\0\0\0\0\0\xF0\x3F", 8);

struct HostileValue {
    const char* what;
    uint32_t tag;
    std::string value;  // implicit VR: the dictionary's; even length
    std::string text, count;
};

// In ascending tag order, as written.
const HostileValue kValues[] = {
    {"controls, tab and line breaks, overrides and isolates; U+200F stays", 0x00081030,
     "A\x01" "B\tC\r\nD\xE2\x80\xAE" "E\xE2\x81\xA6" "F\xE2\x80\x8FG\x7F ",
     "A" + kFFFD + "B C  D" + kFFFD + "E" + kFFFD + "F\xE2\x80\x8FG" + kFFFD, "1"},
    {"bytes that are not UTF-8", 0x00100020, "a\xFF\xC3(b\xED\xA0\x80",
     "a" + kFFFD + kFFFD + "(b" + kFFFD + kFFFD + kFFFD, "1"},
    {"3-byte characters cut by the 4 KiB head", 0x00104000, Repeat("\xE2\x82\xAC", 2000),
     Repeat("\xE2\x82\xAC", 1024) + "...", "1"},
    {"1 MB FD of ones: the whole numbers within 1,024 characters", 0x00189087,
     Repeat(kOne, 131'072), Repeat("1\\", 511) + "1...", "131072"},
    {"2,000 two-byte characters", 0x00324000, Repeat("\xC3\xA9", 2000),
     Repeat("\xC3\xA9", 1024) + "...", "1"},
    {"50 MB UT: backslashes counted over 64 KiB", 0x0040A160, Repeat("abc\\", 12'500'000),
     Repeat("abc\\", 256) + "...", ">=16385"},
    {"bulk data: 32 bytes, one ellipsis", 0x00420011, std::string(5000, '\xAB'),
     Repeat("AB ", 32) + "...", "1"},
};

class TagListCapsTest : public testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        m_path = test::ScratchDir("tag-list-caps") / "hostile.dcm";
        test::ByteBuilder bytes;  // implicit VR: an FD this long has no explicit VR form
        bytes.Preamble().Meta("1.2.840.10008.1.2").Implicit(0x0008, 0x0005, "ISO_IR 192");
        for (const HostileValue& v : kValues) bytes.Implicit(uint16_t(v.tag >> 16), uint16_t(v.tag), v.value);
        ASSERT_TRUE(bytes.WriteTo(m_path));
        m_file.SetDeferredValues(GetParam());
        ASSERT_EQ(ReadDicomFile(m_file, m_path.string()), ReadStatus::Ok);
    }

    const TagListRow& Row(const std::vector<TagListRow>& rows, uint32_t tag) {
        return *std::find_if(rows.begin(), rows.end(),
                             [&](const TagListRow& r) { return (uint32_t(r.group) << 16 | r.element) == tag; });
    }

    std::filesystem::path m_path;
    CDicomFile m_file;
};

TEST_P(TagListCapsTest, ValuesListWithinTheirCaps) {
    const std::vector<TagListRow> rows = BuildTagList(m_file);
    ASSERT_EQ(rows.size(), std::size(kValues) + 3);
    for (const HostileValue& v : kValues) {
        SCOPED_TRACE(v.what);
        EXPECT_EQ(Row(rows, v.tag).valueText, v.text);
        EXPECT_EQ(Row(rows, v.tag).countText, v.count);
        EXPECT_EQ(Row(rows, v.tag).lengthText, std::to_string(v.value.size()));
    }
}

// Values still in the file list empty with an open count; counts from the length stay.
TEST_P(TagListCapsTest, ShrunkenFileListsWithoutItsValues) {
    std::filesystem::resize_file(m_path, 4096);
    const std::vector<TagListRow> rows = BuildTagList(m_file);
    EXPECT_EQ(Row(rows, 0x00189087).countText, "131072");
    if (!m_file.FindElement(0x0040A160)->HasValue()) {
        EXPECT_EQ(Row(rows, 0x0040A160).valueText, "");
        EXPECT_EQ(Row(rows, 0x0040A160).countText, ">=0");
    }
}

INSTANTIATE_TEST_SUITE_P(Values, TagListCapsTest, testing::Values(true, false),
                         [](const auto& param) { return param.param ? "Deferred" : "Loaded"; });

// A big-endian US of odd length reads the file's bytes and the same numbers, loaded or not
// (loaded, its swapped units came back in machine order).
TEST(TagListBigEndian, OddLengthNumbersReadAlikeLoadedOrNot) {
    const auto path = test::ScratchDir("tag-list-big-endian") / "odd.dcm";
    const std::string value("\x00\x01\x00\x02\xFF", 5);
    test::ByteBuilder bytes(true);
    bytes.Preamble().Meta("1.2.840.10008.1.2.2").Explicit(0x0028, 0x0010, "US", value);
    ASSERT_TRUE(bytes.WriteTo(path));
    for (const bool deferred : {true, false}) {
        CDicomFile file;
        file.SetDeferredValues(deferred);
        ASSERT_EQ(ReadDicomFile(file, path.string()), ReadStatus::Ok);
        char read[5] = {};
        EXPECT_TRUE(file.ReadBytes(file.FindElement(0x00280010), read, 0, 5));
        EXPECT_EQ(std::string(read, 5), value) << deferred;
        EXPECT_EQ(BuildTagList(file).back().valueText, "1\\2") << deferred;
    }
}

}  // namespace
}  // namespace vexel
