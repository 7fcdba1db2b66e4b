// The viewer started on folders, as a user would from the command line: the tree fills in
// display order with image counts, and a quit during the scan ends promptly.
#include <gtest/gtest.h>

#include <QTreeWidgetItemIterator>

#include "app/main_window.h"
#include "app/study_tree.h"
#include "common/test_paths.h"
#include "engine/study_model.h"
#include "phantom/phantom_writer.h"
#include "viewer_run.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

using test::RunViewer;
using test::WaitFor;

TEST(MainWindowScan, TreeListsTheStudyInDisplayOrderWithImageCounts) {
    const fs::path root = test::ScratchDir("viewer-scan-study");
    phantom::PhantomOptions options;
    options.columns = options.rows = 32;
    options.slices = 7;
    options.frames = 3;
    std::string error;
    ASSERT_TRUE(phantom::WriteStudy(root / "study", {true, true, true, false}, options, &error));
    std::vector<std::string> rows;
    RunViewer({(root / "study").string()}, "viewer-scan-study-user", [&](CViewerApp& app) {
        CMainWindow& window = *app.MainWindow();
        // Files arrive only while the scan runs.
        EXPECT_TRUE(
            WaitFor([&] { return !window.Scans().Scanning() && window.Model().FileCount() > 0; }));
        for (QTreeWidgetItemIterator it(&window.Tree()); *it; ++it)
            rows.push_back(((*it)->text(0) + "|" + (*it)->text(1)).toStdString());
    });
    // One patient, one study, then the series by number: CT 1, PET 2, multi-frame 3.
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[2].substr(0, 2), "1 ");
    EXPECT_NE(rows[2].find("|7"), std::string::npos) << rows[2];
    EXPECT_EQ(rows[3].substr(0, 2), "2 ");
    EXPECT_EQ(rows[4].substr(0, 2), "3 ");
    EXPECT_NE(rows[4].find("|3"), std::string::npos) << "the multi-frame file counts its frames";
}

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
