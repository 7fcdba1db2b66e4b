#include "imaging/releasable_object_queue.h"

namespace vexel {

CReleasableObject::~CReleasableObject() {
    LeaveReleaseQueue();
}

void CReleasableObject::EnterReleaseQueue(CReleasableObjectQueue* queue) {
    if (queue) queue->PushBack(this);
}

void CReleasableObject::LeaveReleaseQueue() {
    if (CReleasableObjectQueue* queue = m_queue.load()) queue->Remove(this);
}

CReleasableObjectQueue::~CReleasableObjectQueue() {
    std::lock_guard lock(m_lock);
    while (m_head)
        UnlinkLocked(m_head);
}

void CReleasableObjectQueue::PushBackLocked(CReleasableObject* object) {
    object->m_previous = m_tail;
    object->m_next = nullptr;
    (m_tail ? m_tail->m_next : m_head) = object;
    m_tail = object;
    object->m_queue = this;
    ++m_count;
}

void CReleasableObjectQueue::UnlinkLocked(CReleasableObject* object) {
    (object->m_previous ? object->m_previous->m_next : m_head) = object->m_next;
    (object->m_next ? object->m_next->m_previous : m_tail) = object->m_previous;
    object->m_previous = object->m_next = nullptr;
    object->m_queue = nullptr;
    --m_count;
}

bool CReleasableObjectQueue::PushBack(CReleasableObject* object) {
    if (object == nullptr) return false;
    std::lock_guard lock(m_lock);
    if (object->m_queue.load() != nullptr) return false;
    PushBackLocked(object);
    return true;
}

bool CReleasableObjectQueue::Remove(CReleasableObject* object) {
    if (object == nullptr) return false;
    std::lock_guard lock(m_lock);
    if (object->m_queue.load() != this) return false;
    UnlinkLocked(object);
    return true;
}

CReleasableObject* CReleasableObjectQueue::PopFront() {
    std::lock_guard lock(m_lock);
    CReleasableObject* object = m_head;
    if (object) UnlinkLocked(object);
    return object;
}

uint64_t CReleasableObjectQueue::Count() const {
    std::lock_guard lock(m_lock);
    return m_count;
}

uint64_t CReleasableObjectQueue::ReleasePass(bool forced, uint64_t targetBytes) {
    std::lock_guard lock(m_lock);
    uint64_t released = 0;
    CReleasableObject* firstKept = nullptr;
    // The object stays linked while it is asked, so that its destructor (which leaves the
    // queue under this lock) waits until the pass is done with it.
    auto keep = [&](CReleasableObject* object) {
        UnlinkLocked(object);
        PushBackLocked(object);
        if (firstKept == nullptr) firstKept = object;
    };
    while (m_head != nullptr && m_head != firstKept) {
        CReleasableObject* object = m_head;
        if (!forced && object->IsInUse()) {
            keep(object);
            continue;
        }
        if (object->Release()) {
            UnlinkLocked(object);
            const int64_t size = object->ResidentSize();
            object->SetResidentSize(0);
            if (size > 0) {
                released += static_cast<uint64_t>(size);
                firstKept = nullptr;
            }
        } else if (object->ResidentSize() > 0) {
            keep(object);
        } else {
            UnlinkLocked(object);
        }
        if (released >= targetBytes) break;
    }
    return released;
}

}  // namespace vexel
