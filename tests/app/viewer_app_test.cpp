// The viewer's shutdown: a quit that waits for the components still finishing their work.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

#include "app/viewer_app.h"
#include "common/test_paths.h"
#include "engine/system_hooks.h"
#include "engine/vexel_engine.h"

namespace vexel {
namespace {

// Per-user folders of a test's own.
UserBaseFolders ScratchFolders(const std::string& name) {
    const auto root = test::ScratchDir(name);
    return {root / "data", root / "config"};
}

void RunApp(ViewerAppOptions options) {
    options.folders = ScratchFolders("viewer-app");
    CViewerApp app(options);
    char name[] = "vexel-viewer";
    char* argv[] = {name, nullptr};
    EXPECT_EQ(app.Run(1, argv), 0);
}

TEST(ViewerApp, QuitWaitsForPendingShutdowns) {
    std::atomic<bool> workerFinished{false};
    std::thread worker;
    // The worker ends only once the quit was requested (the shutdown hook fired).
    std::promise<void> quitRequested;
    ViewerAppOptions options;
    options.quitWhenShown = true;
    options.quitGrace = std::chrono::minutes(10);  // never gives up on this worker
    options.onShown = [&] {
        // A component with work in flight counts itself in before the quit is requested...
        auto* app = static_cast<CViewerApp*>(CApplication::Instance());
        app->AddPendingShutdown();
        app->Engine()->Subscribe(
            kApplicationHookName,
            [](uint32_t, uint64_t, void* context) {
                static_cast<std::promise<void>*>(context)->set_value();
                return 0u;
            },
            &quitRequested);
        worker = std::thread([&] {
            quitRequested.get_future().wait();
            workerFinished = true;
            // ...and the last one out lets the loop end.
            CApplication::Instance()->RemovePendingShutdown();
        });
    };
    RunApp(options);
    EXPECT_TRUE(workerFinished) << "the loop ended before the pending work";
    worker.join();
}

}  // namespace
}  // namespace vexel
