// The lock that serialises work on one file's frames (decoding, caching, release, users).
// It is recursive, and it counts how many structure locks the calling thread holds, so that
// memory release never waits on, or re-enters, a lock its own thread already holds.
#pragma once

#include <mutex>

namespace vexel {

class CStructureLock {
public:
    void lock() {
        m_mutex.lock();
        ++t_held;
    }
    bool try_lock() {
        if (!m_mutex.try_lock()) return false;
        ++t_held;
        return true;
    }
    void unlock() {
        --t_held;
        m_mutex.unlock();
    }

    // Structure locks (of any file) the calling thread holds right now.
    static int HeldByThisThread() { return t_held; }

private:
    static inline thread_local int t_held = 0;
    std::recursive_mutex m_mutex;
};

}  // namespace vexel
