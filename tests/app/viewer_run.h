// Runs the whole viewer in a test, on the offscreen platform, as a user would start it.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "app/series_load_controller.h"
#include "app/viewer_app.h"
#include "app/workspace_panel.h"
#include "common/test_paths.h"
#include "phantom/phantom_writer.h"

namespace vexel::test {

// Runs the viewer on the offscreen platform as `vexel-viewer PATH...` would, with per-user
// folders under scratch; body runs once the main window is shown, then the viewer quits.
inline void RunViewer(std::vector<std::string> paths, const std::string& scratch,
               const std::function<void(CViewerApp&)>& body,
               std::function<void(const std::string&)> beforeFileOpen = {}) {
    ViewerAppOptions options;
    options.beforeFileOpen = std::move(beforeFileOpen);
    const auto root = ScratchDir(scratch);
    options.folders = UserBaseFolders{root / "data", root / "config", root / "cache"};
    CViewerApp* running = nullptr;
    options.onShown = [&] {
        body(*running);
        running->RequestQuit();
    };
    CViewerApp app(options);
    running = &app;
    paths.insert(paths.begin(), "vexel-viewer");
    std::vector<char*> argv;
    for (auto& argument : paths)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    EXPECT_EQ(app.Run(int(paths.size()), argv.data()), 0);
}

// Runs the loop until done (false after a hang guard of 120 s).
inline bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Runs everything queued to the loop so far: a marker posted now runs after all of it.
inline void Drain() {
    bool reached = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { reached = true; }, Qt::QueuedConnection);
    EXPECT_TRUE(WaitFor([&] { return reached; }));
}

inline bool LoadedAndIdle(CMainWindow& window) {
    const CWorkspacePanel* panel = window.ActivePanel();
    return !window.Scans().Scanning() && panel != nullptr && !panel->Loads().Loading() &&
           panel->Viewport().ImageCount() > 0;
}

inline std::filesystem::path WriteSmallStudy(const std::string& name, int slices) {
    const std::filesystem::path root = ScratchDir(name);
    phantom::PhantomOptions options;
    options.columns = options.rows = 64;
    options.slices = slices;
    std::string error;
    EXPECT_TRUE(phantom::WriteStudy(root / "study", {true, true, false, false}, options, &error))
        << error;
    return root;
}

}  // namespace vexel::test
