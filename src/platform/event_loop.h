// The thread loop that owns the user interface. Everything that must happen on that thread
// (cross-thread calls, hook delivery, the periodic timer) goes through this interface, so
// the engine runs the same under the Qt loop and under the plain headless loop.
#pragma once

#include <chrono>
#include <functional>

namespace vexel {

class IEventLoop {
public:
    using Task = std::function<void()>;

    virtual ~IEventLoop();

    // Queues a task for the loop thread and wakes the loop. A task that was accepted either
    // runs on the loop thread or, when the loop ends first, is destroyed without running;
    // owners learn of the second case from the task's destructor. Returns false (and drops
    // the task) once the loop has ended.
    virtual bool Post(Task task) = 0;
    // Makes a waiting loop go round once without a task.
    virtual void Wake() = 0;
    // Runs tasks and ticks on the calling thread until Quit. False when called off the loop
    // thread or after the loop has ended. When it returns the loop has ended for good.
    virtual bool Run() = 0;
    // Asks the loop to end; safe from any thread. Tasks still queued are dropped.
    virtual void Quit() = 0;
    virtual bool HasEnded() const = 0;
    virtual bool IsLoopThread() const = 0;
    // Calls handler on the loop thread every period while the loop runs; an empty handler
    // stops the tick. One tick source per loop.
    virtual void SetTick(std::chrono::milliseconds period, Task handler) = 0;
};

}  // namespace vexel
