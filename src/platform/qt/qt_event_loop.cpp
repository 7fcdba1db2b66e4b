#include "platform/qt/qt_event_loop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <utility>

namespace vexel {

CQtEventLoop::CQtEventLoop() : m_loopThread(std::this_thread::get_id()) {
    QObject::connect(&m_tick, &QTimer::timeout, &m_receiver, [this] {
        if (m_tickHandler) m_tickHandler();
    });
}

CQtEventLoop::~CQtEventLoop() {
    End();
}

bool CQtEventLoop::Post(Task task) {
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
    ScheduleDrain();
    return true;
}

void CQtEventLoop::ScheduleDrain() {
    {
        std::lock_guard lock(m_mutex);
        if (m_drainScheduled || m_ended) return;
        m_drainScheduled = true;
    }
    QMetaObject::invokeMethod(
        &m_receiver, [this] { RunQueued(); }, Qt::QueuedConnection);
}

void CQtEventLoop::RunQueued() {
    std::deque<Task> batch;
    {
        std::lock_guard lock(m_mutex);
        m_drainScheduled = false;
        batch.swap(m_tasks);
    }
    while (!batch.empty()) {
        Task task = std::move(batch.front());
        batch.pop_front();
        task();
    }
}

void CQtEventLoop::Wake() {
    QMetaObject::invokeMethod(
        &m_receiver, [] {}, Qt::QueuedConnection);
}

bool CQtEventLoop::Run() {
    if (!IsLoopThread() || QCoreApplication::instance() == nullptr) return false;
    bool quitAlready = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_ended) return false;
        quitAlready = m_quitRequested;
    }
    QEventLoop loop;
    m_running = &loop;
    if (!quitAlready) loop.exec();
    m_running = nullptr;
    End();
    return true;
}

void CQtEventLoop::Quit() {
    {
        std::lock_guard lock(m_mutex);
        if (m_quitRequested || m_ended) return;
        m_quitRequested = true;
    }
    // First round: whatever was queued before the quit runs; second round: the loop ends.
    QMetaObject::invokeMethod(
        &m_receiver,
        [this] {
            RunQueued();
            QMetaObject::invokeMethod(
                &m_receiver,
                [this] {
                    if (m_running) m_running->quit();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

bool CQtEventLoop::HasEnded() const {
    std::lock_guard lock(m_mutex);
    return m_ended;
}

bool CQtEventLoop::IsLoopThread() const {
    return std::this_thread::get_id() == m_loopThread;
}

void CQtEventLoop::SetTick(std::chrono::milliseconds period, Task handler) {
    if (!IsLoopThread()) return;
    m_tick.stop();
    m_tickHandler = period.count() > 0 ? std::move(handler) : nullptr;
    if (m_tickHandler) m_tick.start(static_cast<int>(period.count()));
}

void CQtEventLoop::End() {
    std::deque<Task> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
        m_quitRequested = true;
        dropped.swap(m_tasks);
    }
    if (IsLoopThread()) {
        m_tick.stop();
        m_tickHandler = nullptr;
    }
    // Destroyed outside the lock: a dropped task's destructor may release a waiting caller.
    dropped.clear();
}

}  // namespace vexel
