// The built-in table's shape: what lookups and translation files rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "support/text_table.h"

namespace vexel {
namespace {

TEST(TextTableTest, IdsAreUniqueAndNonZeroAndOnlySectionsHaveNone) {
    std::set<uint32_t> ids;
    size_t sections = 0;
    for (const TextRow& row : BuiltInTextTable()) {
        if (row.kind == TextKind::Section) {
            EXPECT_EQ(row.id, 0u) << row.text;
            ++sections;
            continue;
        }
        EXPECT_NE(row.id, 0u) << row.text;
        EXPECT_TRUE(ids.insert(row.id).second) << "id " << row.id << " twice";
    }
    EXPECT_EQ(sections, 15u);
    EXPECT_EQ(ids.size(), 197u);
}

TEST(TextTableTest, OnlyMultiLineRowsHoldLineBreaks) {
    for (const TextRow& row : BuiltInTextTable()) {
        const bool hasBreak = std::strchr(row.text, '\n') != nullptr;
        EXPECT_EQ(hasBreak, row.kind == TextKind::MultiLine) << "id " << row.id;
    }
}

// Translation files check these exact bytes, flaws included.
TEST(TextTableTest, TextsKeepTheirExactBytes) {
    const std::pair<uint32_t, std::string> cases[] = {
        {1017, "Multiplanar Recontructions"},
        {9003, "Se: "},
        {9011, "Val: "},
        {1237, "Rotate 90\u00b0 CCW"},
        {6004, "cm\u00b2"},
        {6012, "Warning! Interpolated image.\nAll values are approximate."},
        {5001, "%dm %02ds (%dm %02ds left)"},
    };
    for (const auto& [id, text] : cases) {
        const TextRow* found = nullptr;
        for (const TextRow& row : BuiltInTextTable()) {
            if (row.kind != TextKind::Section && row.id == id) found = &row;
        }
        ASSERT_NE(found, nullptr) << "id " << id;
        EXPECT_EQ(std::string(found->text), text) << "id " << id;
    }
}

}  // namespace
}  // namespace vexel
