// The viewer arms its crash handler before anything else: `--crash-test` dies of SIGSEGV with
// a report under the cache home and one reporter started, before Qt or a display is needed.
#include <gtest/gtest.h>

#include "common/crash_run.h"
#include "common/test_paths.h"

namespace vexel {
namespace {

TEST(CrashTestOption, ReportsAndStartsTheReporter) {
    const std::filesystem::path sandbox = test::ScratchDir("viewer_crash_test");
    const std::string viewer = (test::BinaryDir() / "bin" / "vexel-viewer").string();
    const test::CrashRun run = test::RunCrashing(
        sandbox, [&] { execl(viewer.c_str(), viewer.c_str(), "--crash-test", nullptr); });
    EXPECT_EQ(run.termSignal, SIGSEGV);
    EXPECT_EQ(run.launches,
              std::vector<std::string>{"-crash " + test::CrashFolder(sandbox).string()});
    EXPECT_TRUE(std::filesystem::is_regular_file(test::CrashFolder(sandbox) / "report.xml"));
}

}  // namespace
}  // namespace vexel
