// Turns SIGTERM and SIGINT into a call on the user-interface thread, so that a terminal's
// Ctrl+C or a session manager's terminate request quits the program in the orderly way.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace vexel {

class CQuitSignalNotifier {
public:
    // Installs the handlers; onQuit runs on the constructing thread's event loop, once per
    // signal received. One notifier per process.
    explicit CQuitSignalNotifier(std::function<void()> onQuit);
    // Restores the default handlers.
    ~CQuitSignalNotifier();
    CQuitSignalNotifier(const CQuitSignalNotifier&) = delete;
    CQuitSignalNotifier& operator=(const CQuitSignalNotifier&) = delete;

    bool Installed() const { return m_notifier != nullptr; }

private:
    std::function<void()> m_onQuit;
    int m_pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

}  // namespace vexel
