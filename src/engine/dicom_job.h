// Base of the background jobs run by the job queue: the job state, its progress task, the
// owner its messages go to, and the state checks every Run makes.
//
// Threads: Run is called on the queue's thread only; RequestPause, Cancel and the
// accessors may be called from any thread. The job lock guards the state and the links and
// is never held while calling out.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "engine/file_reference.h"
#include "engine/job_message.h"

namespace vexel {

class CJobQueue;
class CTaskManager;

enum class JobState : uint32_t {
    Created = 0,
    Running = 2,
    CancelRequested = 3,
    Cancelled = 4,
    PauseRequested = 5,
    Paused = 6,
    Finished = 8,
};

class CDicomJob : public std::enable_shared_from_this<CDicomJob> {
public:
    // How a job takes the owner's answer to a question it did not wait for (AskOwner).
    using Answer = std::function<void(uint32_t answer, CFileRef file)>;

    // Adds the job's task (total 0) to tasks, which must outlive the job.
    CDicomJob(CTaskManager& tasks, std::string_view taskText);
    // Ends the task.
    virtual ~CDicomJob();
    CDicomJob(const CDicomJob&) = delete;
    CDicomJob& operator=(const CDicomJob&) = delete;

    // Does the work from where it stopped; returns Cancelled, Paused or Finished.
    virtual JobState Run() = 0;

    JobState State() const;
    // Unless finished or cancelled (or cancelling): pause at the next item. A paused job
    // stays paused until it runs again.
    void RequestPause();
    // Unless finished: stop at the next item (or at the start of the next Run), and end the
    // task now.
    void Cancel();

    int32_t TaskId() const { return m_taskId; }
    CTaskManager& Tasks() const { return m_tasks; }

    // Set by the creator before the job is submitted. Messages go to ownerId in registry.
    void SetOwner(std::weak_ptr<CJobOwnerRegistry> registry, uint64_t ownerId);
    uint64_t OwnerId() const;
    // A value for the owner's own use (for example a load generation).
    void SetOwnerData(uint64_t data);
    uint64_t OwnerData() const;

    // User-interface thread: hands the message (null: the job has ended) to the owner if it
    // is still registered. 0 when nobody received it.
    uint32_t NotifyOwner(const JobMessage* message);

protected:
    // First thing of every Run: a pending cancel becomes Cancelled (false, do nothing);
    // otherwise the state becomes Running.
    bool BeginRun();
    // Between items: a pending pause becomes Paused, a pending cancel Cancelled; Running
    // otherwise. The job stops with the returned state unless it is Running.
    JobState CheckBetweenItems();
    // After the last item: Finished, or Cancelled when a cancel came in meanwhile.
    JobState FinishRun();
    // From Run or its pool threads, with no lock held: blocks until the message was handled
    // on the user-interface thread. 0 when its owner is gone; empty when it was not delivered
    // (the queue is shutting down, the loop has ended). Run must not return while its pool
    // threads may still send.
    std::optional<uint32_t> SendMessage(const JobMessage& message);
    // Like SendMessage but returns at once, for messages whose answer nobody needs. The job
    // keeps file (the message's file) until the message was delivered or the job ends, so the
    // message's pointers stay good. False when it could not be queued.
    bool PostMessage(const JobMessage& message, CFileRef file = {});
    // A question that does not wait for its answer: posted like PostMessage (the job keeps
    // file meanwhile), and answer runs once with the owner's answer and the file, on the
    // user-interface thread; with 0 and no file when the message is dropped undelivered.
    // False (answer never runs) when it could not be queued.
    bool AskOwner(const JobMessage& message, CFileRef file, Answer answer);

private:
    friend class CJobQueue;
    // False when the job already belongs to a queue.
    bool AttachQueue(CJobQueue& queue);
    // Pauses only a running job (a newer one was put in front of it).
    void PauseIfRunning();
    bool Post(const JobMessage& message, CFileRef file, Answer answer);
    // The reference kept for a posted message; empty when there was none.
    CFileRef TakeHeldFile(uint64_t ticket);

    CTaskManager& m_tasks;
    const int32_t m_taskId;
    mutable std::mutex m_mutex;
    JobState m_state = JobState::Created;
    CJobQueue* m_queue = nullptr;
    std::weak_ptr<CJobOwnerRegistry> m_registry;
    uint64_t m_ownerId = 0;
    uint64_t m_ownerData = 0;
    std::map<uint64_t, CFileRef> m_heldFiles;  // for posted messages not delivered yet
    uint64_t m_lastHeldTicket = 0;
};

}  // namespace vexel
