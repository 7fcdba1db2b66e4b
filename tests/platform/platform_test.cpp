// Platform services: code-page conversion (expected characters from the published code
// charts of each character set: ISO 8859 parts, JIS X 0208/0212, KS X 1001, GB 2312, GBK,
// GB 18030); the memory load from the kernel's counters and the cgroup limit that can make it
// tighter; the atomic writer's temporary files that a killed run left behind are removed,
// anything else that merely looks like one (a link, a folder, a FIFO, another name, a live
// writer's file) is left alone.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/test_paths.h"
#include "platform/atomic_file.h"
#include "platform/code_page.h"
#include "platform/memory_load.h"

namespace vexel {
namespace {

struct CodePageCase {
    uint32_t codePage;
    std::string bytes;
    std::string utf8;
};

class CodePageChart : public testing::TestWithParam<CodePageCase> {};

TEST_P(CodePageChart, DecodesChartCharacters) {
    const CodePageCase& c = GetParam();
    SCOPED_TRACE(testing::Message() << "code page " << c.codePage);
    EXPECT_EQ(ConvertToUtf8(c.bytes, c.codePage), c.utf8);
    EXPECT_EQ(ConvertToUtf8("A" + c.bytes + "z", c.codePage), "A" + c.utf8 + "z");
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

TEST(CodePage, UnknownCodePageReadsAsLatin1) {
    EXPECT_EQ(ConvertToUtf8("J\xE9r\xF4me", 0), "J\u00E9r\u00F4me");
    EXPECT_EQ(ConvertToUtf8("\xFF", 1252), "\u00FF");
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

constexpr const char* kMemInfo =
    "MemTotal:       16000000 kB\n"
    "MemFree:         1000000 kB\n"
    "MemAvailable:    4000000 kB\n"
    "Buffers:          200000 kB\n";

TEST(MemoryLoad, LoadIsTheShareOfMemoryNotAvailable) {
    const auto status = ParseMemInfo(kMemInfo);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->loadPercent, 75u);
    // 69.99 % stays below the first threshold.
    EXPECT_EQ(ParseMemInfo("MemTotal: 10000 kB\nMemAvailable: 3001 kB\n")->loadPercent, 69u);
    EXPECT_EQ(ParseMemInfo("MemTotal: 10000 kB\nMemAvailable: 0 kB\n")->loadPercent, 100u);
}

TEST(MemoryLoad, TighterCgroupLimitWins) {
    MemoryStatus machine = *ParseMemInfo(kMemInfo);  // 75 %
    const MemoryStatus limited = ApplyCgroupLimit(machine, "1073741824\n", "966367642\n");
    EXPECT_EQ(limited.loadPercent, 90u);
    // A looser limit or none leaves the machine's figures.
    EXPECT_EQ(ApplyCgroupLimit(machine, "max\n", "966367641\n").loadPercent, 75u);
    EXPECT_EQ(ApplyCgroupLimit(machine, "107374182400\n", "1000\n").loadPercent, 75u);
    // Usage over the limit counts as full.
    EXPECT_EQ(ApplyCgroupLimit(machine, "1000\n", "2000\n").loadPercent, 100u);
}

TEST(MemoryLoad, CgroupFolderComesFromTheUnifiedHierarchyLine) {
    EXPECT_EQ(CgroupFolderOf("0::/user.slice/session-2.scope\n"),
              "/sys/fs/cgroup/user.slice/session-2.scope");
    EXPECT_EQ(CgroupFolderOf("0::/\n"), "/sys/fs/cgroup");
    EXPECT_EQ(CgroupFolderOf("12:memory:/docker/abc\n"), "");
    EXPECT_EQ(CgroupFolderOf("0::/../../etc\n"), "");
}

namespace fs = std::filesystem;

TEST(StaleTemporaryFiles, OnlyDeadWritersRegularFilesGo) {
    const fs::path dir = test::ScratchDir("stale-temporaries");
    const fs::path outside = test::ScratchDir("stale-temporaries-outside");
    const fs::path settings = dir / "settings.ini";
    std::ofstream(settings) << "[General]\n";
    std::ofstream(outside / "precious") << "keep";
    auto make = [&](const std::string& name) { std::ofstream(dir / name) << "partial"; };

    make(".settings.ini.Ab12Cd");   // killed mid-write
    make(".settings.ini.zzzzzz");   // killed mid-write
    make(".settings.ini.Ab12C");    // one letter short
    make(".settings.ini.Ab12Cd7");  // one too many
    make(".settings.ini.Ab-2Cd");   // not what mkostemp makes
    make("settings.ini.Ab12Cd");    // not hidden
    make(".other.ini.Ab12Cd");      // another file's
    fs::create_symlink(outside / "precious", dir / ".settings.ini.Link01");
    fs::create_directory(dir / ".settings.ini.Dir001");
    ASSERT_EQ(mkfifo((dir / ".settings.ini.Fifo01").c_str(), 0600), 0);
    // A live writer holds its file locked until it renames it.
    make(".settings.ini.Live01");
    const int live = open((dir / ".settings.ini.Live01").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(live, 0);
    ASSERT_EQ(flock(live, LOCK_EX), 0);

    RemoveStaleTemporaryFiles(settings);

    struct Expectation {
        const char* name;
        bool kept;
    };
    for (const Expectation& e :
         {Expectation{".settings.ini.Ab12Cd", false}, Expectation{".settings.ini.zzzzzz", false},
          Expectation{".settings.ini.Ab12C", true}, Expectation{".settings.ini.Ab12Cd7", true},
          Expectation{".settings.ini.Ab-2Cd", true}, Expectation{"settings.ini.Ab12Cd", true},
          Expectation{".other.ini.Ab12Cd", true}, Expectation{".settings.ini.Link01", true},
          Expectation{".settings.ini.Dir001", true}, Expectation{".settings.ini.Fifo01", true},
          Expectation{".settings.ini.Live01", true}, Expectation{"settings.ini", true}}) {
        EXPECT_EQ(fs::exists(fs::symlink_status(dir / e.name)), e.kept) << e.name;
    }
    EXPECT_TRUE(fs::exists(outside / "precious"));
    close(live);

    // Once its writer is gone, the file is stale too; and a write leaves nothing behind.
    ASSERT_TRUE(WriteFileAtomically(settings, "[General]\nx=1\n"));
    RemoveStaleTemporaryFiles(settings);
    EXPECT_FALSE(fs::exists(dir / ".settings.ini.Live01"));
    size_t temporaries = 0;
    for (const auto& entry : fs::directory_iterator(dir))
        temporaries += entry.path().filename().string().rfind(".settings.ini.", 0) == 0;
    EXPECT_EQ(temporaries, 6u);  // the short, long and odd names, the link, folder and FIFO
}

}  // namespace
}  // namespace vexel
