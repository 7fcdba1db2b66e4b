// A fixed set of threads, one per logical processor by default. Work is handed straight to
// an idle thread (there is no queue), so a caller never has more items in flight than
// threads. Submit, WaitIdle and the destructor belong to one controlling thread; the work
// itself must not call back into its own pool.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vexel {

class CThreadPool {
public:
    using Work = std::function<void()>;

    // threadCount 0: one thread per logical processor. Threads the system refuses (after the
    // memory release and retries of CreateWorkerThread) are left out.
    explicit CThreadPool(uint32_t threadCount = 0);
    // Work already handed out still runs; then the threads end.
    virtual ~CThreadPool();
    CThreadPool(const CThreadPool&) = delete;
    CThreadPool& operator=(const CThreadPool&) = delete;

    static uint32_t LogicalProcessorCount();

    uint32_t ThreadCount() const { return static_cast<uint32_t>(m_slots.size()); }
    // Waits for an idle thread and starts the work on it. False (the work is destroyed without
    // running) when the pool has no thread or is being destroyed.
    bool Submit(Work work);
    // Returns when every thread is idle.
    void WaitIdle();
    int32_t BusyCount() const;

private:
    struct Slot {
        std::thread thread;
        std::condition_variable start;
        Work work;
        bool busy = false;
    };

    void SlotLoop(Slot& slot);
    Slot* FindIdleSlot();

    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    std::vector<std::unique_ptr<Slot>> m_slots;
    int32_t m_busyCount = 0;
    bool m_stop = false;
};

}  // namespace vexel
