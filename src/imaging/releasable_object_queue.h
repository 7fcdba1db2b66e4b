// The queue of every object holding releasable memory, oldest first. Links live in the
// objects themselves, so queueing never allocates (it runs while memory is being freed).
//
// A release pass holds the queue lock while it releases, so an object's destructor, which
// leaves the queue under the same lock, can never run while the pass is using the object.
// Objects therefore must not take the queue lock from inside Release.
#pragma once

#include <cstdint>
#include <mutex>

#include "imaging/releasable_object.h"

namespace vexel {

class CReleasableObjectQueue {
public:
    CReleasableObjectQueue() = default;
    // Unlinks whatever is still queued (the objects are not owned).
    ~CReleasableObjectQueue();
    CReleasableObjectQueue(const CReleasableObjectQueue&) = delete;
    CReleasableObjectQueue& operator=(const CReleasableObjectQueue&) = delete;

    // False for null or an object already queued (here or elsewhere).
    bool PushBack(CReleasableObject* object);
    // False when the object is not in this queue.
    bool Remove(CReleasableObject* object);
    CReleasableObject* PopFront();
    uint64_t Count() const;

    // Releases objects from the oldest on until targetBytes came free, the queue is empty,
    // or a whole round made no progress. Unless forced, objects in use are skipped. Released
    // objects stay out of the queue until they hold memory again. Returns the bytes freed.
    uint64_t ReleasePass(bool forced, uint64_t targetBytes);

private:
    void PushBackLocked(CReleasableObject* object);
    void UnlinkLocked(CReleasableObject* object);

    mutable std::mutex m_lock;
    CReleasableObject* m_head = nullptr;
    CReleasableObject* m_tail = nullptr;
    uint64_t m_count = 0;
};

}  // namespace vexel
