#include "engine/dicom_job.h"

#include <utility>

#include "engine/job_queue.h"
#include "engine/task_manager.h"

namespace vexel {

CDicomJob::CDicomJob(CTaskManager& tasks, std::string_view taskText)
    : m_tasks(tasks), m_taskId(tasks.AddTask(0, taskText)) {}

CDicomJob::~CDicomJob() {
    m_tasks.EndTask(m_taskId);
}

JobState CDicomJob::State() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

void CDicomJob::RequestPause() {
    std::lock_guard lock(m_mutex);
    switch (m_state) {
        case JobState::Created:
        case JobState::Running:
            m_state = JobState::PauseRequested;
            break;
        default:
            break;
    }
}

void CDicomJob::PauseIfRunning() {
    std::lock_guard lock(m_mutex);
    if (m_state == JobState::Running) m_state = JobState::PauseRequested;
}

void CDicomJob::Cancel() {
    {
        std::lock_guard lock(m_mutex);
        if (m_state == JobState::Finished) return;
        if (m_state != JobState::Cancelled) m_state = JobState::CancelRequested;
    }
    m_tasks.EndTask(m_taskId);
}

void CDicomJob::SetOwner(std::weak_ptr<CJobOwnerRegistry> registry, uint64_t ownerId) {
    std::lock_guard lock(m_mutex);
    m_registry = std::move(registry);
    m_ownerId = ownerId;
}

uint64_t CDicomJob::OwnerId() const {
    std::lock_guard lock(m_mutex);
    return m_ownerId;
}

void CDicomJob::SetOwnerData(uint64_t data) {
    std::lock_guard lock(m_mutex);
    m_ownerData = data;
}

uint64_t CDicomJob::OwnerData() const {
    std::lock_guard lock(m_mutex);
    return m_ownerData;
}

uint32_t CDicomJob::NotifyOwner(const JobMessage* message) {
    std::shared_ptr<CJobOwnerRegistry> registry;
    uint64_t ownerId = 0;
    {
        std::lock_guard lock(m_mutex);
        registry = m_registry.lock();
        ownerId = m_ownerId;
    }
    if (!registry) return 0;
    IJobOwner* owner = registry->Find(ownerId);
    return owner ? owner->OnJobMessage(*this, message) : 0;
}

bool CDicomJob::BeginRun() {
    std::lock_guard lock(m_mutex);
    if (m_state == JobState::CancelRequested || m_state == JobState::Cancelled) {
        m_state = JobState::Cancelled;
        return false;
    }
    m_state = JobState::Running;
    return true;
}

JobState CDicomJob::CheckBetweenItems() {
    std::lock_guard lock(m_mutex);
    if (m_state == JobState::PauseRequested) m_state = JobState::Paused;
    if (m_state == JobState::CancelRequested) m_state = JobState::Cancelled;
    return m_state;
}

JobState CDicomJob::FinishRun() {
    std::lock_guard lock(m_mutex);
    if (m_state == JobState::CancelRequested || m_state == JobState::Cancelled) {
        m_state = JobState::Cancelled;
    } else {
        // A pause asked for after the last item has nothing left to pause.
        m_state = JobState::Finished;
    }
    return m_state;
}

std::optional<uint32_t> CDicomJob::SendMessage(const JobMessage& message) {
    CJobQueue* queue = nullptr;
    {
        std::lock_guard lock(m_mutex);
        queue = m_queue;
    }
    if (queue == nullptr) return std::nullopt;
    return queue->DeliverMessage(*this, message);
}

bool CDicomJob::PostMessage(const JobMessage& message, CFileRef file) {
    return Post(message, std::move(file), {});
}

bool CDicomJob::AskOwner(const JobMessage& message, CFileRef file, Answer answer) {
    return answer && Post(message, std::move(file), std::move(answer));
}

bool CDicomJob::Post(const JobMessage& message, CFileRef file, Answer answer) {
    CJobQueue* queue = nullptr;
    uint64_t ticket = 0;
    {
        std::lock_guard lock(m_mutex);
        queue = m_queue;
        if (queue == nullptr) return false;
        if (file) {
            ticket = ++m_lastHeldTicket;
            m_heldFiles.emplace(ticket, std::move(file));
        }
    }
    if (queue->PostMessage(*this, message, ticket, std::move(answer))) return true;
    TakeHeldFile(ticket);
    return false;
}

CFileRef CDicomJob::TakeHeldFile(uint64_t ticket) {
    std::lock_guard lock(m_mutex);
    auto it = m_heldFiles.find(ticket);
    if (it == m_heldFiles.end()) return {};
    CFileRef file = std::move(it->second);
    m_heldFiles.erase(it);
    return file;
}

bool CDicomJob::AttachQueue(CJobQueue& queue) {
    std::lock_guard lock(m_mutex);
    if (m_queue != nullptr) return false;
    m_queue = &queue;
    return true;
}

}  // namespace vexel
