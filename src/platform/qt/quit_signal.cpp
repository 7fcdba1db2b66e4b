#include "platform/qt/quit_signal.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

namespace vexel {
namespace {

std::atomic<int> g_writeEnd{-1};

// Only async-signal-safe calls here: one write to the pipe.
void OnSignal(int signal) {
    const int fd = g_writeEnd.load();
    if (fd < 0) return;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
}

}  // namespace

CQuitSignalNotifier::CQuitSignalNotifier(std::function<void()> onQuit)
    : m_onQuit(std::move(onQuit)) {
    if (pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    g_writeEnd = m_pipe[1];
    m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        char bytes[16];
        while (read(m_pipe[0], bytes, sizeof bytes) > 0) {
        }
        if (m_onQuit) m_onQuit();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

CQuitSignalNotifier::~CQuitSignalNotifier() {
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    g_writeEnd = -1;
    m_notifier.reset();
    for (int fd : m_pipe) {
        if (fd >= 0) close(fd);
    }
}

}  // namespace vexel
