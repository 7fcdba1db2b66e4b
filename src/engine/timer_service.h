// Periodic callbacks driven by one 100 ms tick of the user-interface thread. All calls,
// the tick included, belong to that thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

namespace vexel {

// reason: kTimerReasonTick, or kTimerReasonRemoved once when the timer goes away.
using TimerCallback = void (*)(uint64_t timerId, uint32_t reason, void* context);

inline constexpr uint32_t kTimerReasonTick = 1;
inline constexpr uint32_t kTimerReasonRemoved = 2;
// Due at the first tick instead of one interval after it was added.
inline constexpr uint32_t kTimerStartAtOnce = 1u << 0;
// Removed (with kTimerReasonRemoved) when its maximum count is reached.
inline constexpr uint32_t kTimerRemoveAtMaxCount = 1u << 1;
inline constexpr std::chrono::milliseconds kTimerServicePeriod{100};

class CTimerService {
public:
    // Milliseconds of a monotonic clock; wraps at 2^32 like the system tick count.
    using Clock = std::function<uint32_t()>;

    CTimerService();
    explicit CTimerService(Clock clock);
    CTimerService(const CTimerService&) = delete;
    CTimerService& operator=(const CTimerService&) = delete;

    // maxCount 0 = unlimited. Returns the timer id, 0 for a null callback.
    uint64_t AddTimer(uint32_t intervalMs, TimerCallback callback, uint32_t maxCount, void* context,
                      uint32_t flags);
    // Calls the callback with kTimerReasonRemoved and drops the timer; 1 if found, else 0.
    uint32_t RemoveTimer(uint64_t id);
    // Calls every active timer whose interval has passed, last added first. Callbacks may
    // add and remove timers: timers added during the walk wait for the next tick, removed
    // ones are not called again.
    void Tick();

    size_t Count() const { return m_records.size(); }
    // False for an unknown id.
    bool IsActive(uint64_t id) const;

private:
    struct Record {
        uint64_t id = 0;
        uint32_t maxCount = 0;
        uint32_t intervalMs = 0;
        uint32_t flags = 0;
        void* context = nullptr;
        TimerCallback callback = nullptr;
        uint32_t lastTick = 0;
        uint32_t fireCount = 0;
        bool active = true;
    };

    std::vector<Record>::iterator Find(uint64_t id);
    // The record with the largest id below the bound, or end.
    std::vector<Record>::iterator FindBefore(uint64_t bound);
    void TickOne(uint64_t id, uint32_t now);

    Clock m_clock;
    std::vector<Record> m_records;  // ordered by id
    uint64_t m_nextId = 1;
};

}  // namespace vexel
