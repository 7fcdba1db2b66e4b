// vexel-viewer as a process: a terminate request or an interrupt ends it in order, quickly,
// with exit code 0 and without leaving its instance folder behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "common/test_paths.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class ViewerProcess : public testing::TestWithParam<int> {
protected:
    void SetUp() override {
        m_root = test::ScratchDir("viewer-process-" + std::to_string(GetParam()));
        m_tmp = m_root / "data" / "VexelViewer" / "tmp";
        const fs::path viewer = test::BinaryDir() / "bin" / "vexel-viewer";
        ASSERT_TRUE(fs::exists(viewer));
        m_pid = fork();
        ASSERT_GE(m_pid, 0);
        if (m_pid == 0) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            setenv("XDG_DATA_HOME", (m_root / "data").c_str(), 1);
            setenv("XDG_CONFIG_HOME", (m_root / "config").c_str(), 1);
            setenv("XDG_RUNTIME_DIR", m_root.c_str(), 1);
            execl(viewer.c_str(), "vexel-viewer", static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    void TearDown() override {
        if (m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    bool InstanceFolderAppears() const {
        // Only a hang runs into this bound; a busy machine may take long to start Qt.
        const auto deadline = Clock::now() + std::chrono::seconds(120);
        while (Clock::now() < deadline) {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(m_tmp, ec)) {
                if (fs::exists(entry.path() / "lock")) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // Exit status, or -1 when the process is still running after the limit.
    int WaitForExit(std::chrono::milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        int status = 0;
        while (Clock::now() < deadline) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    fs::path m_root;
    fs::path m_tmp;
    pid_t m_pid = -1;
};

TEST_P(ViewerProcess, SignalEndsItInOrder) {
    ASSERT_TRUE(InstanceFolderAppears()) << "the viewer did not start";
    ASSERT_EQ(kill(m_pid, GetParam()), 0);
    // Nothing is running: only a hang takes a minute.
    EXPECT_EQ(WaitForExit(std::chrono::seconds(60)), 0);
    EXPECT_TRUE(fs::is_empty(m_tmp)) << "the instance folder was left behind";
    EXPECT_TRUE(fs::exists(m_root / "config" / "VexelViewer" / "settings.ini"));
}

INSTANTIATE_TEST_SUITE_P(TerminateAndInterrupt, ViewerProcess, testing::Values(SIGTERM, SIGINT));

}  // namespace
}  // namespace vexel
