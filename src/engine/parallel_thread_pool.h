// The thread pool as a parallel loop: the index range is cut into chunks of 16 that the
// threads take in turn until none is left.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "engine/thread_pool.h"

namespace vexel {

inline constexpr uint32_t kParallelChunkSize = 16;

class CParallelThreadPool : public CThreadPool {
public:
    // Called with inclusive index ranges, from several threads at once.
    using RangeRoutine = std::function<void(uint32_t first, uint32_t last)>;

    using CThreadPool::CThreadPool;

    // Calls routine over [0, count) in chunks and returns when every chunk is done. When no
    // thread can take part (none could be started) the calling thread runs the chunks. One
    // loop at a time; never call it from inside a routine.
    void ParallelFor(const RangeRoutine& routine, uint32_t count);

private:
    void RunChunks();

    std::mutex m_loopMutex;  // one loop at a time
    const RangeRoutine* m_routine = nullptr;
    uint32_t m_count = 0;
    std::atomic<uint64_t> m_next{0};  // 64 bits: advancing past a count near 2^32 cannot wrap
};

}  // namespace vexel
