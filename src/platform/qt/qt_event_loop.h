// The event loop of the viewer: the Qt event loop of the thread that constructs it (the
// user-interface thread), with the cross-thread task queue and the periodic tick the engine
// needs. Needs a QCoreApplication.
//
// Quit drains once, as the program's exit protocol wants: what was queued before the quit
// still runs, then the loop ends; tasks posted after that are dropped.
#pragma once

#include <QObject>
#include <QTimer>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/event_loop.h"

class QEventLoop;

namespace vexel {

class CQtEventLoop final : public IEventLoop {
public:
    CQtEventLoop();
    ~CQtEventLoop() override;
    CQtEventLoop(const CQtEventLoop&) = delete;
    CQtEventLoop& operator=(const CQtEventLoop&) = delete;

    bool Post(Task task) override;
    void Wake() override;
    bool Run() override;
    void Quit() override;
    bool HasEnded() const override;
    bool IsLoopThread() const override;
    // Call on the loop thread.
    void SetTick(std::chrono::milliseconds period, Task handler) override;

private:
    void ScheduleDrain();
    void RunQueued();
    void End();

    const std::thread::id m_loopThread;
    QObject m_receiver;  // lives on the loop thread; queued calls run through it
    QTimer m_tick;
    Task m_tickHandler;
    QEventLoop* m_running = nullptr;  // loop thread only

    mutable std::mutex m_mutex;
    std::deque<Task> m_tasks;
    bool m_drainScheduled = false;
    bool m_quitRequested = false;
    bool m_ended = false;
};

}  // namespace vexel
