// Timers against a hand-driven clock: when they fire, their end, and callbacks that change
// the timer list during a tick.
#include "engine/timer_service.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <vector>

namespace vexel {
namespace {

struct Event {
    uint64_t id;
    uint32_t reason;
    uint32_t time;
    friend bool operator==(const Event&, const Event&) = default;
};

class TimerTest : public testing::Test {
protected:
    // Callbacks log (id, reason, now) and then run the action registered for their id.
    static void OnTimer(uint64_t id, uint32_t reason, void* context) {
        auto* self = static_cast<TimerTest*>(context);
        self->m_events.push_back(Event{id, reason, self->m_now});
        auto action = self->m_actions.find(id);
        if (action != self->m_actions.end() && reason == kTimerReasonTick) action->second();
    }

    uint64_t Add(uint32_t interval, uint32_t maxCount = 0, uint32_t flags = 0) {
        return m_timers.AddTimer(interval, OnTimer, maxCount, this, flags);
    }

    void TickAt(uint32_t time) {
        m_now = time;
        m_timers.Tick();
    }

    uint32_t m_now = 0;
    CTimerService m_timers{[this] { return m_now; }};
    std::vector<Event> m_events;
    std::map<uint64_t, std::function<void()>> m_actions;
};

// A timer added at `start`, ticked every 100 ms for a second: its ticks (offsets from start)
// and, when removedAfterTick >= 0, its removal right after that tick.
TEST_F(TimerTest, FiresWhenItsIntervalHasPassed) {
    constexpr uint32_t kOnceAndMax = kTimerStartAtOnce | kTimerRemoveAtMaxCount;
    const struct {
        uint32_t start, interval, maxCount, flags;
        std::vector<uint32_t> tickOffsets;
        int removedAfterTick;
    } cases[] = {
        {0, 250, 0, 0, {300, 600, 900}, -1},
        {0, 250, 0, kTimerStartAtOnce, {0, 300, 600, 900}, -1},
        {0, 100, 3, kOnceAndMax, {0, 100, 200}, 2},
        {0, 100, 3, kTimerStartAtOnce, {0, 100, 200}, -1},
        {0xFFFFFF9Cu, 150, 0, 0, {200, 400, 600, 800, 1000}, -1},  // the clock wraps
        {50, 100, 2, kOnceAndMax, {0, 100}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start + c.interval);
        m_events.clear();
        m_now = c.start;
        const uint64_t id = Add(c.interval, c.maxCount, c.flags);
        for (uint32_t offset = 0; offset <= 1000; offset += 100)
            TickAt(c.start + offset);
        std::vector<Event> expected;
        for (size_t i = 0; i < c.tickOffsets.size(); ++i) {
            expected.push_back({id, kTimerReasonTick, c.start + c.tickOffsets[i]});
            if (int(i) == c.removedAfterTick)
                expected.push_back({id, kTimerReasonRemoved, c.start + c.tickOffsets[i]});
        }
        EXPECT_EQ(m_events, expected);
        EXPECT_EQ(m_timers.Count(), c.removedAfterTick >= 0 ? 0u : 1u);
        m_timers.RemoveTimer(id);
    }
}

TEST_F(TimerTest, CallbackRemovingATimerNotYetVisitedSkipsIt) {
    const uint64_t a = Add(100), b = Add(100), c = Add(100);
    m_actions[c] = [&] { m_timers.RemoveTimer(a); };
    TickAt(100);
    EXPECT_EQ(m_events, (std::vector<Event>{{c, 1, 100}, {a, 2, 100}, {b, 1, 100}}));
    EXPECT_EQ(m_timers.Count(), 2u);
}

}  // namespace
}  // namespace vexel
