// Memory load from the kernel's counters, and the cgroup limit that can make it tighter.
#include <gtest/gtest.h>

#include "platform/memory_load.h"

namespace vexel {
namespace {

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

}  // namespace
}  // namespace vexel
