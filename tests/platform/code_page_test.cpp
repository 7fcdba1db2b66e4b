// Code-page conversion. Expected characters come from the published code charts of each
// character set (ISO 8859 parts, JIS X 0208/0212, KS X 1001, GB 2312, GBK, GB 18030).
#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace vexel {
namespace {

struct CodePageCase {
    uint32_t codePage;
    std::string bytes;
    std::string utf8;
};

class CodePageChart : public testing::TestWithParam<CodePageCase> {};

TEST_P(CodePageChart, DecodesAndEncodesChartCharacters) {
    const CodePageCase& c = GetParam();
    SCOPED_TRACE(testing::Message() << "code page " << c.codePage);
    EXPECT_EQ(ConvertToUtf8(c.bytes, c.codePage), c.utf8);
    EXPECT_EQ(ConvertToUtf8("A" + c.bytes + "z", c.codePage), "A" + c.utf8 + "z");
    EXPECT_EQ(ConvertFromUtf8(c.utf8, c.codePage), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    AllCodePages, CodePageChart,
    testing::Values(CodePageCase{28591, "\xE9", "\u00E9"},              // e acute
                    CodePageCase{28592, "\xA1", "\u0104"},              // A ogonek
                    CodePageCase{28595, "\xB0", "\u0410"},              // Cyrillic A
                    CodePageCase{28596, "\xC7", "\u0627"},              // Arabic alef
                    CodePageCase{28597, "\xC1", "\u0391"},              // Greek Alpha
                    CodePageCase{28598, "\xE0", "\u05D0"},              // Hebrew alef
                    CodePageCase{932, "\x82\xA0\xB1", "\u3042\uFF71"},  // hiragana a, kana A
                    CodePageCase{874, "\xA1", "\u0E01"},                // Thai ko kai
                    CodePageCase{50222, "\x1B$B$\"\x1B(B", "\u3042"},   // JIS X 0208 0x2422
                    CodePageCase{20932, "\xA4\xA2\x8F\xB0\xA1", "\u3042\u4E02"},
                    CodePageCase{949, "\xB0\xA1", "\uAC00"},  // hangul ga
                    CodePageCase{65001, "\xE4\xB8\xAD", "\u4E2D"},
                    CodePageCase{54936, "\x81\x30\x81\x30\xD6\xD0", "\u0080\u4E2D"},
                    CodePageCase{936, "\x81\x40", "\u4E02"},      // GBK extension area
                    CodePageCase{20936, "\xB0\xA1", "\u554A"}));  // GB 2312 first hanzi

TEST(CodePage, UnmappableBytesBecomeReplacementCharacter) {
    const std::string fffd = "\uFFFD";
    EXPECT_EQ(ConvertToUtf8("a\xA5z", 28593), "a" + fffd + "z");   // unassigned in 8859-3
    EXPECT_EQ(ConvertToUtf8("\xA1\xE0", 28598), fffd + "\u05D0");  // unassigned in 8859-8
    EXPECT_EQ(ConvertToUtf8("\xC3(", 65001), fffd + "(");          // broken UTF-8
    EXPECT_EQ(ConvertToUtf8("\xED\xA0\x80", 65001).find("\xED"), std::string::npos);
    EXPECT_EQ(ConvertToUtf8("x\xB0", 949), "x" + fffd);  // cut-off double byte
    EXPECT_EQ(ConvertToUtf8("\xD6", 54936), fffd);
}

TEST(CodePage, UnknownCodePageReadsAsLatin1AndStatefulEncodingEndsInAscii) {
    EXPECT_EQ(ConvertToUtf8("J\xE9r\xF4me", 0), "J\u00E9r\u00F4me");
    EXPECT_EQ(ConvertToUtf8("\xFF", 1252), "\u00FF");
    EXPECT_EQ(ConvertFromUtf8("\u00E9", 0), "\xE9");
    // The Japanese example of PS3.5 H.3.1: the ideographic group of Yamada.
    EXPECT_EQ(ConvertFromUtf8("\u5C71\u7530", 50222), "\x1B$B;3ED\x1B(B");
}

TEST(CodePage, ConcurrentConversionsDoNotShareState) {
    std::atomic<int> failures{0};
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([t, &failures] {
                for (int i = 0; i < 2000; ++i)
                    failures += t % 2 ? ConvertToUtf8("\xB0\xA1", 949) != "\uAC00"
                                      : ConvertToUtf8("\x1B$B;3ED\x1B(B", 50222) != "\u5C71\u7530";
            });
        }
    }
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace vexel
