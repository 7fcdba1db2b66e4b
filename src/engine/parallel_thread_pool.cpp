#include "engine/parallel_thread_pool.h"

#include <algorithm>

namespace vexel {

void CParallelThreadPool::ParallelFor(const RangeRoutine& routine, uint32_t count) {
    if (!routine || count == 0) return;
    std::lock_guard loopLock(m_loopMutex);
    m_routine = &routine;
    m_count = count;
    m_next.store(0);
    bool started = false;
    for (uint32_t i = 0; i < ThreadCount(); ++i) {
        if (!Submit([this] { RunChunks(); })) break;
        started = true;
    }
    // Without a helper the loop would never finish; the caller does the work itself.
    if (!started) RunChunks();
    WaitIdle();
    m_routine = nullptr;
}

void CParallelThreadPool::RunChunks() {
    for (;;) {
        const uint64_t first = m_next.fetch_add(kParallelChunkSize);
        if (first >= m_count) return;
        const uint64_t last = std::min<uint64_t>(first + kParallelChunkSize - 1, m_count - 1);
        (*m_routine)(static_cast<uint32_t>(first), static_cast<uint32_t>(last));
    }
}

}  // namespace vexel
