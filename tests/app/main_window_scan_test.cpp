// The viewer started on folders, as a user would from the command line: the tree fills in
// display order with image counts, and a quit during the scan ends promptly.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QTreeWidgetItemIterator>
#include <chrono>
#include <fstream>
#include <functional>

#include "app/main_window.h"
#include "app/message_wnd.h"
#include "app/message_wnd_manager.h"
#include "app/study_tree.h"
#include "app/viewer_app.h"
#include "common/test_paths.h"
#include "engine/study_model.h"
#include "phantom/phantom_writer.h"
#include "viewer_run.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

// Runs the viewer on paths; check runs on the loop at each change of the study tree and
// every 20 ms until it returns true (or a hang guard of 120 s passes), then the viewer quits.
void RunViewerUntil(const std::vector<std::string>& paths,
                    const std::function<bool(CViewerApp&)>& check, const std::string& scratch) {
    ViewerAppOptions options;
    const auto root = test::ScratchDir(scratch);
    options.folders = UserBaseFolders{root / "data", root / "config"};
    CViewerApp* running = nullptr;
    bool done = false;
    options.onShown = [&] {
        auto* timer = new QTimer(running->MainWindow());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        auto poll = [&, timer, deadline] {
            if (done) return;
            if (check(*running) || std::chrono::steady_clock::now() > deadline) {
                done = true;
                timer->stop();
                running->RequestQuit();
            }
        };
        QObject::connect(timer, &QTimer::timeout, poll);
        // Each file the scan adds changes the tree: a check there sees every count.
        QAbstractItemModel* tree = running->MainWindow()->Tree().model();
        QObject::connect(tree, &QAbstractItemModel::rowsInserted, timer, poll);
        QObject::connect(tree, &QAbstractItemModel::dataChanged, timer, poll);
        timer->start(20);
    };
    CViewerApp app(options);
    running = &app;
    test::RunViewerWith(app, paths);
}

TEST(MainWindowScan, TreeListsTheStudyInDisplayOrderWithImageCounts) {
    const fs::path root = test::ScratchDir("viewer-scan-study");
    phantom::PhantomOptions options;
    options.columns = options.rows = 32;
    options.slices = 7;
    options.frames = 3;
    std::string error;
    ASSERT_TRUE(phantom::WriteStudy(root / "study", {true, true, true, false}, options, &error));
    std::vector<std::string> rows;
    RunViewerUntil(
        {(root / "study").string()},
        [&](CViewerApp& app) {
            CMainWindow& window = *app.MainWindow();
            if (window.Scans().Scanning()) return false;
            rows.clear();
            CStudyTree& tree = window.Tree();
            for (QTreeWidgetItemIterator it(&tree); *it; ++it) {
                rows.push_back(((*it)->text(0) + "|" + (*it)->text(1)).toStdString());
            }
            return true;
        },
        "viewer-scan-study-user");
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
    RunViewerUntil(
        {root.string()},
        [&](CViewerApp& app) {
            filesAtQuit = app.MainWindow()->Model().FileCount();
            return filesAtQuit >= 100;
        },
        "viewer-scan-quit-user");
    // A hang would run into the hang guard of the check (too few files) or never return.
    EXPECT_GE(filesAtQuit, 100u);
    EXPECT_LT(filesAtQuit, 3000u) << "the scan ended before the quit: nothing was tested";
}

}  // namespace
}  // namespace vexel
