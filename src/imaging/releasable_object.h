// Something that holds memory it can give back on request: decoded frames. The memory
// manager walks them oldest first through the release queue.
#pragma once

#include <atomic>
#include <cstdint>

namespace vexel {

class CReleasableObjectQueue;

class CReleasableObject {
public:
    // Gives the memory up; true when it did. Must not block on locks other threads hold.
    virtual bool Release() = 0;
    // Derived classes leave the queue first thing in their destructor (LeaveReleaseQueue),
    // while the object is still whole.
    virtual ~CReleasableObject();
    // True while the object must not be released by an ordinary pass.
    virtual bool IsInUse() const = 0;

    int64_t ResidentSize() const { return m_residentSize.load(std::memory_order_relaxed); }
    void SetResidentSize(int64_t bytes) { m_residentSize.store(bytes, std::memory_order_relaxed); }

protected:
    CReleasableObject() = default;
    // Appends the object to the queue unless it is already in one.
    void EnterReleaseQueue(CReleasableObjectQueue* queue);
    void LeaveReleaseQueue();

private:
    friend class CReleasableObjectQueue;

    std::atomic<int64_t> m_residentSize{0};
    // Guarded by the lock of m_queue.
    std::atomic<CReleasableObjectQueue*> m_queue{nullptr};
    CReleasableObject* m_previous = nullptr;
    CReleasableObject* m_next = nullptr;
};

}  // namespace vexel
