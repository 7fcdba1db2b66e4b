// Event loop without a window system, for the command-line program and the tests. The loop
// thread is the thread that constructs the loop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/event_loop.h"

namespace vexel {

class CHeadlessEventLoop final : public IEventLoop {
public:
    CHeadlessEventLoop();
    // Ends the loop if it has not ended; tasks still queued are destroyed without running.
    ~CHeadlessEventLoop() override;
    CHeadlessEventLoop(const CHeadlessEventLoop&) = delete;
    CHeadlessEventLoop& operator=(const CHeadlessEventLoop&) = delete;

    bool Post(Task task) override;
    void Wake() override;
    bool Run() override;
    void Quit() override;
    bool HasEnded() const override;
    bool IsLoopThread() const override;
    void SetTick(std::chrono::milliseconds period, Task handler) override;

    // Runs the tasks queued now, without waiting, on the loop thread; returns how many ran.
    // Lets tests and batch code drive the loop step by step.
    size_t RunPending();
    // Blocks until at least count tasks are queued or the loop has ended; tests use it to
    // stage races with callers that are blocked in a cross-thread call.
    bool WaitForPending(size_t count);

private:
    using Clock = std::chrono::steady_clock;

    std::optional<Task> TakeTask(std::unique_lock<std::mutex>& lock);
    bool TickDue(Clock::time_point now) const;
    void RunTick(std::unique_lock<std::mutex>& lock);
    void End();

    const std::thread::id m_loopThread;
    mutable std::mutex m_mutex;
    std::condition_variable m_wakeup;
    std::deque<Task> m_tasks;
    Task m_tickHandler;
    std::chrono::milliseconds m_tickPeriod{0};
    Clock::time_point m_nextTick;
    bool m_woken = false;
    bool m_quitRequested = false;
    bool m_ended = false;
};

}  // namespace vexel
