// The viewer started on a folder, as a user would from the command line: a quit during the
// scan ends promptly.
#include <gtest/gtest.h>

#include "app/main_window.h"
#include "common/test_paths.h"
#include "engine/study_model.h"
#include "phantom/phantom_writer.h"
#include "viewer_run.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

using test::RunViewer;
using test::WaitFor;

TEST(MainWindowScan, QuitDuringAScanStopsItAndEndsPromptly) {
    const fs::path root = test::ScratchDir("viewer-scan-quit");
    phantom::PhantomOptions options;
    options.columns = options.rows = 32;
    options.slices = 3000;
    std::string error;
    ASSERT_TRUE(phantom::WriteCtSeries(root / "CT", options, &error)) << error;
    size_t filesAtQuit = 0;
    RunViewer({root.string()}, "viewer-scan-quit-user", [&](CViewerApp& app) {
        WaitFor([&] { return (filesAtQuit = app.MainWindow()->Model().FileCount()) >= 100; });
    });
    // A hang would run into the hang guard of the check (too few files) or never return.
    EXPECT_GE(filesAtQuit, 100u);
    EXPECT_LT(filesAtQuit, 3000u) << "the scan ended before the quit: nothing was tested";
}

}  // namespace
}  // namespace vexel
