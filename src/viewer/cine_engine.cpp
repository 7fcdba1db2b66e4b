#include "viewer/cine_engine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

namespace vexel {
namespace {

constexpr uint64_t kPollUs = 1000;

struct Entry {
    uint64_t due;
    uint32_t panelId;
};

}  // namespace

struct CCineEngine::State {
    explicit State(CineEngineServices s) : services(std::move(s)) {}

    uint64_t Now() const {
        if (services.clock) return services.clock();
        return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count());
    }

    // Caller holds the lock. After every entry due at the same time or earlier.
    void Insert(uint32_t panelId, uint64_t due) {
        const auto at = std::upper_bound(schedule.begin(), schedule.end(), due,
                                         [](uint64_t d, const Entry& e) { return d < e.due; });
        schedule.insert(at, Entry{due, panelId});
        woken = true;
        wake.notify_one();
    }

    void Run(const std::shared_ptr<State>& self);
    void Tick();

    const CineEngineServices services;
    std::mutex lock;  // over everything below except `stop`
    std::condition_variable wake;
    bool woken = false;
    std::atomic<bool> stop{false};
    std::vector<Entry> schedule;  // ascending due time
    bool tickPending = false;     // a tick is queued to or running on the UI thread
    std::map<uint32_t, float> playing;
};

void CCineEngine::State::Run(const std::shared_ptr<State>& self) {
    std::unique_lock guard(lock);
    while (!stop) {
        uint64_t wait = kPollUs;
        if (!tickPending && !schedule.empty()) {
            const uint64_t now = Now();
            const uint64_t due = schedule.front().due;
            if (due <= now) {
                tickPending = true;
                // A tick that runs after the engine is gone finds nothing to do.
                std::weak_ptr<State> weak = self;
                guard.unlock();
                const bool queued = services.postToUI([weak] {
                    if (auto state = weak.lock()) state->Tick();
                });
                guard.lock();
                if (!queued) tickPending = false;
            } else {
                wait = std::min(kPollUs, due - now);
            }
        }
        wake.wait_for(guard, std::chrono::microseconds(wait), [&] { return woken || stop; });
        woken = false;
    }
}

void CCineEngine::State::Tick() {
    const uint64_t start = Now();
    for (;;) {
        uint32_t panelId = 0;
        {
            std::lock_guard guard(lock);
            if (schedule.empty() || schedule.front().due > Now()) break;
            panelId = schedule.front().panelId;
            schedule.erase(schedule.begin());
        }
        // A panel that disappeared while it was due is not scheduled again.
        ICinePlayer* player = services.findPlayer ? services.findPlayer(panelId) : nullptr;
        const uint64_t next = player != nullptr ? player->Advance() : 0;
        {
            std::lock_guard guard(lock);
            if (next != 0 && playing.count(panelId) != 0) Insert(panelId, next);
        }
        if (Now() - start > kTickBudgetUs) break;
    }
    std::lock_guard guard(lock);
    tickPending = false;
    woken = true;
    wake.notify_one();
}

CCineEngine::CCineEngine(CineEngineServices services)
    : m_state(std::make_shared<State>(std::move(services))) {}

CCineEngine::~CCineEngine() {
    {
        std::lock_guard guard(m_state->lock);
        m_state->playing.clear();
        m_state->schedule.clear();
        m_state->stop = true;
        m_state->wake.notify_one();
    }
    if (m_thread.joinable()) m_thread.join();
}

uint64_t CCineEngine::Now() const {
    return m_state->Now();
}

bool CCineEngine::StartCine(uint32_t panelId, float rate) {
    {
        std::lock_guard guard(m_state->lock);
        if (!m_state->playing.emplace(panelId, rate).second) return false;
        m_state->Insert(panelId, m_state->Now());
    }
    if (!m_thread.joinable()) {
        // Cleared at every start, so that play, stop, play plays again.
        m_state->stop = false;
        m_thread = std::jthread([state = m_state] { state->Run(state); });
    }
    return true;
}

bool CCineEngine::StopCine(uint32_t panelId) {
    bool last = false;
    {
        std::lock_guard guard(m_state->lock);
        if (m_state->playing.erase(panelId) == 0) return false;
        std::erase_if(m_state->schedule, [&](const Entry& e) { return e.panelId == panelId; });
        last = m_state->playing.empty();
        if (last) {
            m_state->stop = true;
            m_state->wake.notify_one();
        }
    }
    // Joined outside the lock: the timing thread takes it in its loop.
    if (last && m_thread.joinable()) m_thread.join();
    return true;
}

void CCineEngine::Schedule(uint32_t panelId, uint64_t due) {
    std::lock_guard guard(m_state->lock);
    if (m_state->playing.count(panelId) != 0) m_state->Insert(panelId, due);
}

bool CCineEngine::IsPlaying(uint32_t panelId) const {
    std::lock_guard guard(m_state->lock);
    return m_state->playing.count(panelId) != 0;
}

}  // namespace vexel
