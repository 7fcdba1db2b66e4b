// CRC-32 against the standard check value and against Python's zlib on every English text.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "common/test_paths.h"
#include "support/crc32.h"
#include "support/text_table.h"

namespace vexel {
namespace {

TEST(Crc32Test, StandardCheckValues) {
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32(""), 0u);
    EXPECT_EQ(Crc32("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
}

std::string Hex(const char* text) {
    std::string hex;
    char digits[3];
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        std::snprintf(digits, sizeof digits, "%02x", *p);
        hex += digits;
    }
    return hex;
}

// zlib's crc32 is an implementation independent of ours; the texts include non-ASCII bytes
// (degree and superscript signs) and a line break.
TEST(Crc32Test, EveryBuiltInTextMatchesZlib) {
    if (!test::HaveProgram("python3")) GTEST_SKIP() << "python3 not found";
    const std::filesystem::path input = test::ScratchDir("crc32") / "texts.hex";
    std::string lines;
    std::vector<const TextRow*> rows;
    for (const TextRow& row : BuiltInTextTable()) {
        if (row.kind == TextKind::Section) continue;
        rows.push_back(&row);
        lines += Hex(row.text) + "\n";
    }
    FILE* out = std::fopen(input.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fputs(lines.c_str(), out);
    std::fclose(out);
    int exitCode = -1;
    const std::string script =
        "import sys,zlib\nfor l in open(sys.argv[1]):\n"
        " print('%08X' % (zlib.crc32(bytes.fromhex(l.strip())) & 0xFFFFFFFF))";
    std::istringstream crcs(
        test::RunCommand("python3 -c \"" + script + "\" " + input.string(), &exitCode));
    ASSERT_EQ(exitCode, 0);
    for (const TextRow* row : rows) {
        std::string expected;
        ASSERT_TRUE(std::getline(crcs, expected)) << "python gave too few lines";
        char actual[9];
        std::snprintf(actual, sizeof actual, "%08X", Crc32(row->text));
        EXPECT_EQ(actual, expected) << "text " << row->id << " \"" << row->text << "\"";
    }
}

}  // namespace
}  // namespace vexel
