// The built-in table's texts, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "support/text_table.h"

namespace vexel {
namespace {

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
