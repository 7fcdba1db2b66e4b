#include "platform/headless_event_loop.h"

#include <utility>

namespace vexel {

CHeadlessEventLoop::CHeadlessEventLoop() : m_loopThread(std::this_thread::get_id()) {}

CHeadlessEventLoop::~CHeadlessEventLoop() {
    End();
}

bool CHeadlessEventLoop::Post(Task task) {
    if (!task) return false;
    {
        std::lock_guard lock(m_mutex);
        if (m_ended) return false;
        try {
            m_tasks.push_back(std::move(task));
        } catch (...) {
            return false;
        }
    }
    m_wakeup.notify_all();
    return true;
}

void CHeadlessEventLoop::Wake() {
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_wakeup.notify_all();
}

void CHeadlessEventLoop::Quit() {
    {
        std::lock_guard lock(m_mutex);
        m_quitRequested = true;
    }
    m_wakeup.notify_all();
}

bool CHeadlessEventLoop::HasEnded() const {
    std::lock_guard lock(m_mutex);
    return m_ended;
}

bool CHeadlessEventLoop::IsLoopThread() const {
    return std::this_thread::get_id() == m_loopThread;
}

void CHeadlessEventLoop::SetTick(std::chrono::milliseconds period, Task handler) {
    {
        std::lock_guard lock(m_mutex);
        if (period.count() <= 0) handler = nullptr;
        m_tickHandler = std::move(handler);
        m_tickPeriod = period;
        m_nextTick = Clock::now() + period;
    }
    m_wakeup.notify_all();
}

bool CHeadlessEventLoop::Run() {
    if (!IsLoopThread()) return false;
    std::unique_lock lock(m_mutex);
    if (m_ended) return false;
    const auto wakeCondition = [this] { return m_quitRequested || m_woken || !m_tasks.empty(); };
    while (!m_quitRequested) {
        if (m_tickHandler) {
            m_wakeup.wait_until(lock, m_nextTick, wakeCondition);
        } else {
            m_wakeup.wait(lock, wakeCondition);
        }
        m_woken = false;
        if (m_quitRequested) break;
        if (TickDue(Clock::now())) RunTick(lock);
        if (auto task = TakeTask(lock)) {
            lock.unlock();
            (*task)();
            task.reset();  // captured state goes away off the lock, like a dropped task
            lock.lock();
        }
    }
    lock.unlock();
    End();
    return true;
}

size_t CHeadlessEventLoop::RunPending() {
    if (!IsLoopThread()) return 0;
    std::unique_lock lock(m_mutex);
    if (m_ended) return 0;
    if (TickDue(Clock::now())) RunTick(lock);
    size_t count = m_tasks.size();
    size_t ran = 0;
    while (ran < count && !m_quitRequested) {
        auto task = TakeTask(lock);
        if (!task) break;
        lock.unlock();
        (*task)();
        task.reset();
        lock.lock();
        ++ran;
    }
    return ran;
}

bool CHeadlessEventLoop::WaitForPending(size_t count) {
    std::unique_lock lock(m_mutex);
    m_wakeup.wait(lock, [&] { return m_ended || m_tasks.size() >= count; });
    return !m_ended;
}

std::optional<IEventLoop::Task> CHeadlessEventLoop::TakeTask(std::unique_lock<std::mutex>&) {
    if (m_tasks.empty()) return std::nullopt;
    Task task = std::move(m_tasks.front());
    m_tasks.pop_front();
    return task;
}

bool CHeadlessEventLoop::TickDue(Clock::time_point now) const {
    return m_tickHandler && now >= m_nextTick;
}

void CHeadlessEventLoop::RunTick(std::unique_lock<std::mutex>& lock) {
    // Skip missed periods instead of firing a burst after a long task.
    const auto now = Clock::now();
    while (m_nextTick <= now)
        m_nextTick += m_tickPeriod;
    Task handler = m_tickHandler;
    lock.unlock();
    handler();
    lock.lock();
}

void CHeadlessEventLoop::End() {
    std::deque<Task> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
        m_quitRequested = true;
        m_tickHandler = nullptr;
        dropped.swap(m_tasks);
    }
    m_wakeup.notify_all();
    // Destroyed outside the lock: a dropped task's destructor may release a waiting caller.
    dropped.clear();
}

}  // namespace vexel
