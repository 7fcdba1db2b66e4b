// The viewer's quit: it waits for the components still finishing their work, but not forever
// for a thread stuck in a system call; a FIFO named on the command line never gets a thread
// stuck in the first place.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "app/viewer_app.h"
#include "common/test_paths.h"
#include "engine/system_hooks.h"
#include "engine/vexel_engine.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A gate that opens once and stays open.
struct Gate {
    std::atomic<bool> open{false};
    void Open() {
        open = true;
        open.notify_all();
    }
    void Wait() { open.wait(false); }
};

uint32_t OpenGate(uint32_t, uint64_t, void* gate) {
    static_cast<Gate*>(gate)->Open();
    return 0;
}

// A component with work in flight counts itself in before the quit is requested. A worker
// that stops when told (the shutdown hook fires) is waited for, however long the grace; one
// stuck in a system call (open() or read() of a scan, deaf to the cancel) is not, yet the
// quit writes the settings and removes the instance folder. Services start and stop in their
// fixed order, users before what they use.
TEST(StuckWorkerQuit, QuitWaitsForPendingWorkButNotForAStuckWorker) {
    const std::vector<std::string> order = {
        "+CUIDispatcher", "+CVexelEngine", "+hooks", "+CTimerService", "+CJPEGEngine", "+COptions",
        "+CBinaryValueCacher", "+CBinaryValueMemCacher", "+CLanguageManager",
        "+CMessageWndManager", "+CHttpDownloadManager", "+CUpdater", "+CMemoryManager", "+CDicomDictionary", "+CJobQueue",
        "+CSeriesStateStore", "+CMeasurementLists", "+CWindowPresetTable", "+CTaskManager",
        "+CVolumeManager", "+CReferenceLineManager", "+CCineEngine", "+CZIPEngine", "+CMPREngine", "+CFusionEngine", "+CViewerWndManager", "+CMainWindow", "-CMainWindow",
        "-CViewerWndManager", "-CFusionEngine", "-CMPREngine", "-CZIPEngine", "-CCineEngine", "-CReferenceLineManager", "-CVolumeManager", "-CJobQueue", "-CTaskManager",
        "-CWindowPresetTable", "-CMeasurementLists", "-CSeriesStateStore", "-CDicomDictionary",
        "-CMemoryManager", "-CUpdater", "-CHttpDownloadManager", "-CMessageWndManager", "-CLanguageManager", "-CBinaryValueMemCacher",
        "-CBinaryValueCacher", "-COptions", "-CJPEGEngine", "-CTimerService", "-hooks",
        "-CVexelEngine", "-CUIDispatcher"};
    for (const bool stuck : {false, true}) {
        SCOPED_TRACE(stuck ? "stuck worker" : "worker that stops");
        const fs::path root = test::ScratchDir(stuck ? "stuck-worker-quit" : "viewer-app");
        ViewerAppOptions options;
        options.folders = UserBaseFolders{root / "data", root / "config", root / "cache"};
        options.quitWhenShown = true;
        options.quitGrace = stuck ? std::chrono::milliseconds(10) : std::chrono::minutes(10);
        Gate release;
        std::thread worker;
        bool workerFinished = false, ended = false, folderGone = false, settingsWritten = false;
        std::vector<std::string> log;
        options.serviceLog = [&log](std::string_view event) { log.emplace_back(event); };
        options.onShown = [&] {
            auto* app = static_cast<CViewerApp*>(CApplication::Instance());
            app->AddPendingShutdown();
            if (!stuck) app->Engine()->Subscribe(kApplicationHookName, OpenGate, &release);
            worker = std::thread([&, app] {
                release.Wait();
                workerFinished = true;
                app->RemovePendingShutdown();  // the last one out lets the loop end
            });
            // Guard: without the fix the loop never ends; release the worker so the test does.
            QTimer::singleShot(std::chrono::minutes(2), app->MainWindow(),
                               [&release] { release.Open(); });
        };
        options.endProcess = [&](int code) {
            EXPECT_EQ(code, 0);
            ended = true;
            folderGone = fs::is_empty(root / "data" / "VexelViewer" / "tmp");
            settingsWritten = fs::exists(root / "config" / "VexelViewer" / "settings.ini");
            // The real process ends here; the test lets its worker go and shuts down in order.
            release.Open();
            worker.join();
        };
        {
            CViewerApp app(options);
            char name[] = "vexel-viewer";
            char* argv[] = {name, nullptr};
            EXPECT_EQ(app.Run(1, argv), 0);
        }
        if (worker.joinable()) worker.join();
        if (!stuck) {
            EXPECT_TRUE(workerFinished && !ended) << "the loop ended before the pending work";
            EXPECT_EQ(log, order);
            continue;
        }
        EXPECT_TRUE(ended) << "the quit waited for the stuck worker";
        EXPECT_TRUE(folderGone) << "the instance folder was left behind";
        EXPECT_TRUE(settingsWritten);
    }
}

// Exit status of pid, or -1 when it still runs after the limit (a hang guard).
int WaitForExit(pid_t pid, std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    int status = 0;
    while (Clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

// SIGTERM or SIGINT: the viewer ends in order, with code 0, its settings written.
class ViewerGivenAFifo : public testing::TestWithParam<int> {};

TEST_P(ViewerGivenAFifo, EndsOnTheSignalAndLeavesNoInstanceFolder) {
    const fs::path root = test::ScratchDir("viewer-fifo-" + std::to_string(GetParam()));
    const fs::path fifo = root / "pipe.dcm";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const fs::path viewer = test::BinaryDir() / "bin" / "vexel-viewer";
    ASSERT_TRUE(fs::exists(viewer));
    // Tells when the viewer has opened the FIFO: a blocking open never completes, so never
    // reports; a refused special file does.
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, fifo.c_str(), IN_OPEN), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
        execl(viewer.c_str(), "vexel-viewer", fifo.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    pollfd opened{watch, POLLIN, 0};
    EXPECT_EQ(poll(&opened, 1, 120 * 1000), 1) << "the viewer never finished opening the FIFO";
    close(watch);
    ASSERT_EQ(kill(pid, GetParam()), 0);
    const int code = WaitForExit(pid, std::chrono::seconds(60));
    if (code < 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    EXPECT_EQ(code, 0) << "-1: the signal did not end the viewer";
    EXPECT_TRUE(fs::is_empty(root / "data" / "VexelViewer" / "tmp"))
        << "the instance folder was left behind";
    EXPECT_TRUE(fs::exists(root / "config" / "VexelViewer" / "settings.ini"));
}

INSTANTIATE_TEST_SUITE_P(TerminateAndInterrupt, ViewerGivenAFifo, testing::Values(SIGTERM, SIGINT));

}  // namespace
}  // namespace vexel
