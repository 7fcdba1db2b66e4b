#include "engine/ui_dispatcher.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <utility>

namespace vexel {

// Outlives the dispatcher while calls are queued; tells them whether they may still run.
struct CUIDispatcher::SharedState {
    std::atomic<bool> closed{false};
};

namespace {

// A blocked caller's side of a synchronous call.
class SyncRequest {
public:
    void Finish(std::optional<uint32_t> result) {
        {
            std::lock_guard lock(m_mutex);
            if (m_done) return;
            m_result = result;
            m_done = true;
        }
        m_finished.notify_all();
    }

    std::optional<uint32_t> Wait() {
        std::unique_lock lock(m_mutex);
        m_finished.wait(lock, [this] { return m_done; });
        return m_result;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_finished;
    std::optional<uint32_t> m_result;
    bool m_done = false;
};

// Travels with the queued task. When the task is destroyed without having run (the loop
// ended, the dispatcher closed), its destructor releases the caller with a failure.
class SyncTicket {
public:
    explicit SyncTicket(std::shared_ptr<SyncRequest> request) : m_request(std::move(request)) {}
    ~SyncTicket() { m_request->Finish(std::nullopt); }
    SyncTicket(const SyncTicket&) = delete;
    SyncTicket& operator=(const SyncTicket&) = delete;

    void Finish(uint32_t result) { m_request->Finish(result); }

private:
    std::shared_ptr<SyncRequest> m_request;
};

CUIDispatcher::UICall BindFunction(CUIDispatcher::UIFunction function, uintptr_t a, uintptr_t b) {
    if (!function) return {};
    return [function, a, b] { return function(a, b); };
}

}  // namespace

CUIDispatcher::CUIDispatcher(IEventLoop& loop)
    : m_loop(loop), m_state(std::make_shared<SharedState>()) {}

CUIDispatcher::~CUIDispatcher() {
    m_state->closed.store(true);
}

std::optional<uint32_t> CUIDispatcher::CallOnUIThread(UIFunction function, uintptr_t a,
                                                      uintptr_t b) {
    return CallOnUIThread(BindFunction(function, a, b));
}

std::optional<uint32_t> CUIDispatcher::PostToUIThread(UIFunction function, uintptr_t a) {
    return PostToUIThread(BindFunction(function, a, 0));
}

std::optional<uint32_t> CUIDispatcher::CallOnUIThread(UICall call) {
    if (!call) return std::nullopt;
    if (IsUIThread()) return call();
    try {
        auto request = std::make_shared<SyncRequest>();
        auto ticket = std::make_shared<SyncTicket>(request);
        auto task = [state = m_state, ticket = std::move(ticket), call = std::move(call)] {
            if (!state->closed.load()) ticket->Finish(call());
        };
        // Posted or dropped, the task owns the only ticket: the wait below always ends. Nothing
        // of the dispatcher is touched after the post; it may be destroyed while we wait.
        m_loop.Post(std::move(task));
        return request->Wait();
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<uint32_t> CUIDispatcher::PostToUIThread(UICall call) {
    if (!call) return std::nullopt;
    if (IsUIThread()) return call();
    try {
        auto task = [state = m_state, call = std::move(call)] {
            if (!state->closed.load()) call();
        };
        if (!m_loop.Post(std::move(task))) return std::nullopt;
        return 0u;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace vexel
