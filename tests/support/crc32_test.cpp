// CRC-32 against Python's zlib on every English text.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <vector>

#include "common/test_paths.h"
#include "support/crc32.h"
#include "support/text_table.h"

namespace vexel {
namespace {

// zlib's crc32 is an implementation independent of ours; the texts include non-ASCII bytes
// (degree and superscript signs) and a line break.
TEST(Crc32Test, EveryBuiltInTextMatchesZlib) {
    if (!test::HaveProgram("python3")) GTEST_SKIP() << "python3 not found";
    const std::filesystem::path input = test::ScratchDir("crc32") / "texts.hex";
    std::vector<const TextRow*> rows;
    {
        std::ofstream out(input);
        for (const TextRow& row : BuiltInTextTable()) {
            if (row.kind == TextKind::Section) continue;
            rows.push_back(&row);
            for (const char* p = row.text; *p; ++p)
                out << std::hex << std::setw(2) << std::setfill('0') << int(uint8_t(*p));
            out << "\n";
        }
    }
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
