#include "engine/job_queue.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "engine/system_hooks.h"
#include "engine/ui_dispatcher.h"
#include "engine/vexel_engine.h"
#include "engine/worker_thread.h"

namespace vexel {

// Lets messages through to the user-interface thread until the queue shuts down. A sender
// waits until its message was handled or dropped, or until the gate closes; a message
// whose sender gave up is never delivered, so a delivery never outlives its sender.
class CJobQueue::MessageGate {
public:
    enum class Stage { Queued, Delivering, Done, Dropped };
    struct Request {
        Stage stage = Stage::Queued;
        uint32_t result = 0;
    };

    // User-interface thread: false when the message must not be delivered any more.
    bool BeginDelivery(Request& request) {
        std::lock_guard lock(m_mutex);
        if (m_closed || request.stage != Stage::Queued) return false;
        request.stage = Stage::Delivering;
        return true;
    }
    void EndDelivery(Request& request, uint32_t result) {
        std::lock_guard lock(m_mutex);
        request.result = result;
        request.stage = Stage::Done;
        m_changed.notify_all();
    }
    // The queued call was destroyed without running (the loop ended).
    void Drop(Request& request) {
        std::lock_guard lock(m_mutex);
        if (request.stage == Stage::Queued) request.stage = Stage::Dropped;
        m_changed.notify_all();
    }
    // A delivery already begun is waited for: the user-interface thread is running it.
    std::optional<uint32_t> Wait(Request& request) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] {
            return request.stage == Stage::Done || request.stage == Stage::Dropped ||
                   (m_closed && request.stage == Stage::Queued);
        });
        if (request.stage == Stage::Done) return request.result;
        request.stage = Stage::Dropped;
        return std::nullopt;
    }

    bool IsClosed() {
        std::lock_guard lock(m_mutex);
        return m_closed;
    }

    // Keeps an ended job alive until its end notice ran; 0 when closed.
    uint64_t HoldEndedJob(std::shared_ptr<CDicomJob> job) {
        std::lock_guard lock(m_mutex);
        if (m_closed) return 0;
        m_ended.emplace(++m_lastTicket, std::move(job));
        return m_lastTicket;
    }
    std::shared_ptr<CDicomJob> TakeEndedJob(uint64_t ticket) {
        std::lock_guard lock(m_mutex);
        auto it = m_ended.find(ticket);
        if (m_closed || it == m_ended.end()) return nullptr;
        auto job = std::move(it->second);
        m_ended.erase(it);
        return job;
    }

    void Close() {
        std::map<uint64_t, std::shared_ptr<CDicomJob>> ended;
        {
            std::lock_guard lock(m_mutex);
            m_closed = true;
            ended.swap(m_ended);
            m_changed.notify_all();
        }
        // The jobs are destroyed here, outside the lock.
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_closed = false;
    std::map<uint64_t, std::shared_ptr<CDicomJob>> m_ended;
    uint64_t m_lastTicket = 0;
};

namespace {

// Travels with a queued message; when the call is destroyed without having run, the sender
// is released.
class DeliveryTicket {
public:
    explicit DeliveryTicket(std::function<void()> onDrop) : m_onDrop(std::move(onDrop)) {}
    ~DeliveryTicket() { m_onDrop(); }
    DeliveryTicket(const DeliveryTicket&) = delete;
    DeliveryTicket& operator=(const DeliveryTicket&) = delete;

private:
    std::function<void()> m_onDrop;
};

// Travels with a queued question: answers it once, with the owner's answer when the call
// runs, or with 0 when the call is destroyed without having run.
class AnswerOnce {
public:
    explicit AnswerOnce(CDicomJob::Answer answer) : m_answer(std::move(answer)) {}
    ~AnswerOnce() { Send(0, CFileRef()); }
    AnswerOnce(const AnswerOnce&) = delete;
    AnswerOnce& operator=(const AnswerOnce&) = delete;

    void Send(uint32_t result, CFileRef file) {
        if (m_answer) std::exchange(m_answer, {})(result, std::move(file));
    }

private:
    CDicomJob::Answer m_answer;
};

}  // namespace

CJobQueue::CJobQueue(CUIDispatcher& dispatcher, CVexelEngine* engine, PendingShutdownHooks pending)
    : m_dispatcher(dispatcher),
      m_engine(engine),
      m_pending(std::move(pending)),
      m_gate(std::make_shared<MessageGate>()) {
    if (m_engine)
        m_shutdownCookie = m_engine->Subscribe(kApplicationHookName, OnShutdownHook, this);
    // Counted in before the thread runs, so its count-out can never come first.
    if (m_pending.countIn) m_pending.countIn();
    auto thread = CreateWorkerThread([this] { WorkerLoop(); });
    if (thread) {
        m_thread = std::move(*thread);
    } else if (m_pending.countOut) {
        m_pending.countOut();
    }
}

CJobQueue::~CJobQueue() {
    Shutdown();
    if (m_thread.joinable()) m_thread.join();
    if (m_engine && m_shutdownCookie != 0) m_engine->Unsubscribe(m_shutdownCookie);
}

uint32_t CJobQueue::OnShutdownHook(uint32_t eventCode, uint64_t, void* context) {
    if (eventCode == EventCode(ApplicationEvent::Shutdown))
        static_cast<CJobQueue*>(context)->Shutdown();
    return 0;
}

bool CJobQueue::Submit(std::shared_ptr<CDicomJob> job) {
    if (!job) return false;
    std::lock_guard lock(m_mutex);
    if (m_stop || !m_thread.joinable()) return false;
    if (!job->AttachQueue(*this)) return false;
    for (const auto& queued : m_jobs)
        queued->PauseIfRunning();
    m_jobs.push_front(std::move(job));
    m_woken = true;
    m_wake.notify_one();
    return true;
}

void CJobQueue::Shutdown() {
    std::vector<std::shared_ptr<CDicomJob>> jobs;
    {
        std::lock_guard lock(m_mutex);
        jobs.assign(m_jobs.begin(), m_jobs.end());
        m_stop = true;
        m_wake.notify_one();
    }
    // Cancel ends each task: the task manager's lock is taken outside the queue lock.
    for (const auto& job : jobs)
        job->Cancel();
    m_gate->Close();
}

size_t CJobQueue::JobCount() const {
    std::lock_guard lock(m_mutex);
    return m_jobs.size();
}

std::optional<uint32_t> CJobQueue::DeliverMessage(CDicomJob& job, const JobMessage& message) {
    auto request = std::make_shared<MessageGate::Request>();
    std::shared_ptr<MessageGate> gate = m_gate;
    auto ticket = std::make_shared<DeliveryTicket>([gate, request] { gate->Drop(*request); });
    // The job is touched only once BeginDelivery said its sender still waits, which keeps
    // the job alive until EndDelivery.
    auto call = [gate, request, ticket, job = &job, message]() -> uint32_t {
        if (!gate->BeginDelivery(*request)) return 0;
        const uint32_t result = job->NotifyOwner(&message);
        gate->EndDelivery(*request, result);
        return result;
    };
    ticket.reset();  // the queued call holds the only ticket
    if (!m_dispatcher.PostToUIThread(std::move(call))) return std::nullopt;
    return gate->Wait(*request);
}

bool CJobQueue::PostMessage(CDicomJob& job, const JobMessage& message, uint64_t heldTicket,
                            CDicomJob::Answer answer) {
    std::shared_ptr<AnswerOnce> reply;
    if (answer) reply = std::make_shared<AnswerOnce>(std::move(answer));
    auto call = [gate = m_gate, weakJob = job.weak_from_this(), message, heldTicket,
                 reply]() -> uint32_t {
        const std::shared_ptr<CDicomJob> alive = weakJob.lock();
        if (!alive) return 0;  // its destructor released the file
        // Released after the delivery, outside the job's lock.
        CFileRef held = alive->TakeHeldFile(heldTicket);
        const uint32_t result = gate->IsClosed() ? 0 : alive->NotifyOwner(&message);
        if (reply) reply->Send(result, std::move(held));
        return result;
    };
    return m_dispatcher.PostToUIThread(std::move(call)).has_value();
}

void CJobQueue::WorkerLoop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_woken || m_stop; });
        m_woken = false;
        RunQueuedJobs(lock);
        // Stop only with nothing left: cancelled jobs are still run once so they return.
        if (m_stop && m_jobs.empty()) break;
    }
    lock.unlock();
    if (m_pending.countOut) m_pending.countOut();
}

void CJobQueue::RunQueuedJobs(std::unique_lock<std::mutex>& lock) {
    while (!m_jobs.empty()) {
        std::shared_ptr<CDicomJob> job = m_jobs.front();
        lock.unlock();
        const JobState result =
            job->State() == JobState::Cancelled ? JobState::Cancelled : job->Run();
        lock.lock();
        // A paused job waits behind the newer one; after shutdown nothing resumes.
        if (result == JobState::Paused && !m_stop) continue;
        std::erase(m_jobs, job);
        lock.unlock();
        PostEndNotice(std::move(job));
        lock.lock();
    }
}

void CJobQueue::PostEndNotice(std::shared_ptr<CDicomJob> job) {
    const uint64_t ticket = m_gate->HoldEndedJob(std::move(job));
    if (ticket == 0) return;
    m_dispatcher.PostToUIThread([gate = m_gate, ticket]() -> uint32_t {
        std::shared_ptr<CDicomJob> ended = gate->TakeEndedJob(ticket);
        return ended ? ended->NotifyOwner(nullptr) : 0;
    });
}

}  // namespace vexel
