// Runs a CViewerApp on the offscreen platform as `vexel-viewer PATH...` would, and waits on
// its loop.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/viewer_app.h"
#include "common/test_paths.h"

namespace vexel::test {

inline void RunViewerWith(CViewerApp& app, const std::vector<std::string>& paths) {
    std::vector<std::string> arguments = {"vexel-viewer"};
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    EXPECT_EQ(app.Run(int(arguments.size()), argv.data()), 0);
}

// Runs the viewer on paths with per-user folders under scratch; body runs once the main
// window is shown, then the viewer quits.
inline void RunViewer(const std::vector<std::string>& paths, const std::string& scratch,
                      const std::function<void(CViewerApp&)>& body) {
    ViewerAppOptions options;
    const auto root = ScratchDir(scratch);
    options.folders = UserBaseFolders{root / "data", root / "config"};
    CViewerApp* running = nullptr;
    options.onShown = [&] {
        body(*running);
        running->RequestQuit();
    };
    CViewerApp app(options);
    running = &app;
    RunViewerWith(app, paths);
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

}  // namespace vexel::test
