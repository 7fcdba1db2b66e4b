// Runs background jobs one at a time on a thread of its own, newest first: submitting a job
// asks the running one to pause at its next item; the paused job resumes (Run is called
// again) when it reaches the front of the queue again.
//
// Threads: construct, Submit, Shutdown and destroy on the user-interface thread. Jobs reach
// their owner only through messages delivered on that thread; the queue thread itself only
// posts (the end notice). No queue or job lock is held while anything waits for that thread.
//
// Shutdown (the Application/Shutdown hook, or the destructor): every job is cancelled, the
// thread stops once the jobs have returned, and from then on no message is delivered and
// waiting senders are released at once, so a job whose pool threads wait on the
// user-interface thread still ends.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "engine/dicom_job.h"
#include "engine/job_message.h"

namespace vexel {

class CUIDispatcher;
class CVexelEngine;

// How the queue counts itself among the components the application waits for before it
// quits: countIn once the thread runs, countOut on that thread when it has ended.
struct PendingShutdownHooks {
    std::function<void()> countIn;
    std::function<void()> countOut;
};

class CJobQueue {
public:
    // engine may be null (no shutdown hook then; call Shutdown instead). The dispatcher, the
    // engine and the task manager of the jobs must outlive the queue.
    CJobQueue(CUIDispatcher& dispatcher, CVexelEngine* engine, PendingShutdownHooks pending = {});
    // Shuts down if needed, waits for the thread and leaves the hook.
    ~CJobQueue();
    CJobQueue(const CJobQueue&) = delete;
    CJobQueue& operator=(const CJobQueue&) = delete;

    // Puts the job in front and pauses the running one. False when the queue has no thread,
    // is shutting down, or the job was submitted before (to this or another queue).
    bool Submit(std::shared_ptr<CDicomJob> job);
    // Cancels every job, stops the thread once they returned and closes message delivery.
    void Shutdown();

    bool IsStarted() const { return m_thread.joinable(); }
    size_t JobCount() const;

    // Called by jobs (CDicomJob::SendMessage): see there.
    std::optional<uint32_t> DeliverMessage(CDicomJob& job, const JobMessage& message);
    // Called by jobs (CDicomJob::PostMessage): queues the message without waiting. It is
    // delivered only if the job still lives and the queue has not shut down; the job's file
    // held under heldTicket is released once it ran (or never will). With an answer (a
    // question, CDicomJob::AskOwner), the owner's answer and the held file go to it instead.
    bool PostMessage(CDicomJob& job, const JobMessage& message, uint64_t heldTicket,
                     CDicomJob::Answer answer = {});

private:
    class MessageGate;

    static uint32_t OnShutdownHook(uint32_t eventCode, uint64_t payload, void* context);
    void WorkerLoop();
    void RunQueuedJobs(std::unique_lock<std::mutex>& lock);
    void PostEndNotice(std::shared_ptr<CDicomJob> job);

    CUIDispatcher& m_dispatcher;
    CVexelEngine* m_engine = nullptr;
    uint32_t m_shutdownCookie = 0;
    PendingShutdownHooks m_pending;
    std::shared_ptr<MessageGate> m_gate;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::shared_ptr<CDicomJob>> m_jobs;  // the front runs
    bool m_woken = false;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace vexel
