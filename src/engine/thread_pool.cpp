#include "engine/thread_pool.h"

#include <utility>

#include "engine/worker_thread.h"

namespace vexel {

CThreadPool::CThreadPool(uint32_t threadCount) {
    if (threadCount == 0) threadCount = LogicalProcessorCount();
    m_slots.reserve(threadCount);
    for (uint32_t i = 0; i < threadCount; ++i) {
        auto slot = std::make_unique<Slot>();
        Slot* raw = slot.get();
        // The slot is in place before its thread can look at it.
        std::unique_lock lock(m_mutex);
        m_slots.push_back(std::move(slot));
        lock.unlock();
        auto thread = CreateWorkerThread([this, raw] { SlotLoop(*raw); });
        lock.lock();
        if (thread) {
            raw->thread = std::move(*thread);
        } else {
            m_slots.pop_back();
        }
    }
}

CThreadPool::~CThreadPool() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        for (auto& slot : m_slots)
            slot->start.notify_one();
    }
    m_idle.notify_all();
    for (auto& slot : m_slots)
        slot->thread.join();
}

uint32_t CThreadPool::LogicalProcessorCount() {
    const unsigned count = std::thread::hardware_concurrency();
    return count == 0 ? 1u : count;
}

bool CThreadPool::Submit(Work work) {
    if (!work) return false;
    std::unique_lock lock(m_mutex);
    Slot* slot = nullptr;
    m_idle.wait(lock, [&] {
        slot = FindIdleSlot();
        return m_stop || slot != nullptr || m_slots.empty();
    });
    if (m_stop || slot == nullptr) {
        lock.unlock();
        work = nullptr;  // the caller's argument is freed outside the lock
        return false;
    }
    slot->work = std::move(work);
    slot->busy = true;
    ++m_busyCount;
    slot->start.notify_one();
    return true;
}

void CThreadPool::WaitIdle() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_busyCount == 0; });
}

int32_t CThreadPool::BusyCount() const {
    std::lock_guard lock(m_mutex);
    return m_busyCount;
}

CThreadPool::Slot* CThreadPool::FindIdleSlot() {
    for (auto& slot : m_slots)
        if (!slot->busy) return slot.get();
    return nullptr;
}

void CThreadPool::SlotLoop(Slot& slot) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        slot.start.wait(lock, [&] { return slot.work != nullptr || m_stop; });
        if (!slot.work) return;
        Work work = std::move(slot.work);
        slot.work = nullptr;
        lock.unlock();
        work();
        work = nullptr;  // captures die before the slot counts as idle
        lock.lock();
        slot.busy = false;
        --m_busyCount;
        m_idle.notify_all();
    }
}

}  // namespace vexel
