// Cross-thread calls: order, the thread they run on, and shutdown while calls are queued;
// tasks the headless loop never reached are destroyed without running. The hook bus:
// removal, delivery order, subscribers that change the bus while it delivers to them, fires
// from worker threads delivered on the loop thread, and shutdown with fires queued. Timers
// against a hand-driven clock: when they fire, their end, and callbacks that change the timer
// list during a tick.
#include "engine/ui_dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/system_hooks.h"
#include "engine/timer_service.h"
#include "engine/vexel_engine.h"
#include "platform/headless_event_loop.h"

namespace vexel {
namespace {

// The test thread is the loop thread: it runs the loop until every worker is done.
void RunLoopUntilJoined(CHeadlessEventLoop& loop, std::vector<std::jthread>& workers) {
    std::thread closer([&] {
        workers.clear();
        loop.Quit();
    });
    EXPECT_TRUE(loop.Run());
    closer.join();
}

TEST(UIDispatcher, CallsFromManyThreadsRunOnTheLoopThreadInOrder) {
    constexpr int kWorkers = 4;
    constexpr int kCallsPerWorker = 250;
    CHeadlessEventLoop loop;
    CUIDispatcher dispatcher(loop);
    std::vector<std::pair<int, int>> entries;  // (worker, sequence); loop thread only
    int offLoopThread = 0;
    std::atomic<int> wrongResults{0};
    std::vector<std::jthread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w] {
            for (int k = 0; k < kCallsPerWorker; ++k) {
                auto call = [&, w, k]() -> uint32_t {
                    offLoopThread += !loop.IsLoopThread();
                    entries.emplace_back(w, k);
                    return static_cast<uint32_t>(k * 10 + w);
                };
                // Posts answer 0 at once; calls wait for the loop thread's answer.
                const auto result =
                    k % 2 ? dispatcher.CallOnUIThread(call) : dispatcher.PostToUIThread(call);
                if (result != std::optional<uint32_t>(k % 2 ? k * 10 + w : 0)) ++wrongResults;
            }
        });
    }
    RunLoopUntilJoined(loop, workers);

    EXPECT_EQ(wrongResults.load(), 0);
    EXPECT_EQ(offLoopThread, 0);
    ASSERT_EQ(entries.size(), size_t{kWorkers * kCallsPerWorker});
    std::vector<int> next(kWorkers, 0);
    for (const auto& [worker, sequence] : entries)
        ASSERT_EQ(sequence, next[worker]++) << "worker " << worker;
}

// Calls posted, and callers blocked in a call, when the loop ends or the dispatcher goes
// away: the callers are released with a failure and no call runs afterwards.
enum class Teardown { EndLoop, DestroyDispatcher };

class DispatcherShutdown : public testing::TestWithParam<Teardown> {};

TEST_P(DispatcherShutdown, QueuedCallsNeverRunAndReleaseTheirCallers) {
    constexpr int kPosts = 5, kCallers = 3;
    CHeadlessEventLoop loop;
    auto dispatcher = std::make_unique<CUIDispatcher>(loop);
    std::atomic<int> ran{0};
    const auto call = [&]() -> uint32_t { return uint32_t(++ran); };
    std::thread([&] {
        for (int i = 0; i < kPosts; ++i)
            dispatcher->PostToUIThread(call);
    }).join();
    std::vector<std::optional<uint32_t>> results(kCallers, 1u);
    std::vector<std::jthread> callers;
    for (int c = 0; c < kCallers; ++c)
        callers.emplace_back(
            [&, c, d = dispatcher.get()] { results[c] = d->CallOnUIThread(call); });
    ASSERT_TRUE(loop.WaitForPending(kPosts + kCallers));
    if (GetParam() == Teardown::EndLoop) {
        loop.Quit();
        ASSERT_TRUE(loop.Run());
    } else {
        dispatcher.reset();
        EXPECT_EQ(loop.RunPending(), size_t{kPosts + kCallers});
    }
    callers.clear();
    EXPECT_EQ(ran.load(), 0);
    for (const auto& result : results)
        EXPECT_EQ(result, std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Teardowns, DispatcherShutdown,
                         testing::Values(Teardown::EndLoop, Teardown::DestroyDispatcher));

TEST(HeadlessEventLoop, TasksLeftWhenTheLoopEndsAreDestroyedWithoutRunning) {
    auto state = std::make_shared<int>(0);
    {
        CHeadlessEventLoop loop;
        loop.Quit();
        ASSERT_TRUE(loop.Post([state] { *state = 1; }));
        EXPECT_TRUE(loop.Run());
        EXPECT_EQ(state.use_count(), 1);
        EXPECT_FALSE(loop.Post([state] { *state = 2; }));
        EXPECT_FALSE(loop.Run());
        CHeadlessEventLoop destroyed;
        ASSERT_TRUE(destroyed.Post([state] { *state = 3; }));
    }
    EXPECT_EQ(*state, 0);
    EXPECT_EQ(state.use_count(), 1);
}

using Log = std::vector<std::string>;

// A subscriber that logs its tag and runs a test-supplied action (none: answers result).
struct Action {
    Log* log;
    std::string tag;
    uint32_t result = 0;
    std::function<uint32_t(uint32_t)> run;
};

uint32_t RunAction(uint32_t eventCode, uint64_t, void* context) {
    auto* action = static_cast<Action*>(context);
    action->log->push_back(action->tag);
    return action->run ? action->run(eventCode) : action->result;
}

class HookBus : public testing::Test {
protected:
    uint32_t Add(Action& action) { return m_engine.Subscribe("H", RunAction, &action); }
    Action Make(std::string tag, uint32_t result = 0) {
        return {&m_log, std::move(tag), result, {}};
    }

    CHeadlessEventLoop m_loop;
    CUIDispatcher m_dispatcher{m_loop};
    CVexelEngine m_engine{m_dispatcher};
    HookHandle m_hook = m_engine.RegisterHook("H");
    Log m_log;
};

TEST_F(HookBus, FirstNonZeroResultStopsDeliveryAndRemovedHooksFail) {
    Action r1 = Make("1"), r2 = Make("2", 7), r3 = Make("3", 9);
    for (Action* r : {&r1, &r2, &r3})
        Add(*r);
    EXPECT_EQ(m_engine.FireHook(m_hook, 1, 0), 7u);
    EXPECT_EQ(m_engine.DeliverHook(m_hook, 1, 0), 7u);
    EXPECT_EQ(m_log, (Log{"1", "2", "1", "2"}));
    EXPECT_EQ(m_engine.UnregisterHook(m_hook), 0u);
    EXPECT_EQ(m_engine.UnregisterHook(m_hook), 1u);
    EXPECT_EQ(m_engine.FireHook(m_hook, 1, 0), kHookFailed);
    EXPECT_EQ(m_engine.DeliverHook(m_hook, 1, 0), kHookFailed);
    EXPECT_EQ(m_engine.FireHook(HookHandle{}, 1, 0), kHookFailed);
    HookHandle again = m_engine.RegisterHook("H");
    EXPECT_EQ(m_engine.FireHook(m_hook, 1, 0), kHookFailed);
    EXPECT_EQ(m_engine.FireHook(again, 1, 0), 0u);
    EXPECT_EQ(m_log.size(), 4u);
}

TEST_F(HookBus, SubscribersAddedOrRemovedDuringDeliveryCountFromTheNextEvent) {
    Action late = Make("late"), first = Make("first"), second = Make("second");
    uint32_t firstCookie = 0, secondCookie = 0;
    first.run = [&](uint32_t) {
        if (m_log.size() == 1) {
            Add(late);
            m_engine.Unsubscribe(secondCookie);
        } else {
            m_engine.Unsubscribe(firstCookie);  // itself
        }
        return 0u;
    };
    firstCookie = Add(first);
    secondCookie = Add(second);
    EXPECT_EQ(m_engine.FireHook(m_hook, 1, 0), 0u);
    EXPECT_EQ(m_log, (Log{"first"}));
    m_engine.FireHook(m_hook, 1, 0);
    m_engine.FireHook(m_hook, 1, 0);
    EXPECT_EQ(m_log, (Log{"first", "first", "late", "late"}));
}

TEST_F(HookBus, SubscriberMayFireTheSameAndOtherHooks) {
    HookHandle other = m_engine.RegisterHook("Other");
    Action inner = Make("other"), outer = Make("outer");
    m_engine.Subscribe("Other", RunAction, &inner);
    outer.run = [&](uint32_t code) -> uint32_t {
        if (code == 0) return 0;
        m_engine.FireHook(other, 0, 0);
        return m_engine.FireHook(m_hook, code - 1, 0) + 1;
    };
    Add(outer);
    // Codes 2, 1, 0: two nested levels, each adding one to the level below's answer.
    EXPECT_EQ(m_engine.FireHook(m_hook, 2, 0), 2u);
    EXPECT_EQ(m_log, (Log{"outer", "other", "outer", "other", "outer"}));
}

struct Subscriber {
    CHeadlessEventLoop* loop;
    int calls = 0;  // loop thread only
    bool offLoopThread = false;
};

// Answers payload + code so that each worker can check it got its own answer.
uint32_t Answer(uint32_t eventCode, uint64_t payload, void* context) {
    auto* subscriber = static_cast<Subscriber*>(context);
    if (!subscriber->loop->IsLoopThread()) subscriber->offLoopThread = true;
    ++subscriber->calls;
    return static_cast<uint32_t>(payload) + eventCode;
}

TEST(HookThreads, FireHookFromWorkersRunsSubscribersOnTheLoopThread) {
    constexpr int kWorkers = 4, kFires = 200;
    CHeadlessEventLoop loop;
    CUIDispatcher dispatcher(loop);
    CVexelEngine engine(dispatcher);
    SystemHooks hooks;
    ASSERT_TRUE(RegisterSystemHooks(engine, hooks));
    Subscriber subscriber{&loop};
    ASSERT_NE(engine.Subscribe(kViewport2DHookName, Answer, &subscriber), 0u);
    std::atomic<int> wrong{0};
    std::vector<std::jthread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w] {
            for (int k = 0; k < kFires; ++k) {
                const uint64_t payload = static_cast<uint64_t>(w * 1000 + k);
                const uint32_t code = EventCode(Viewport2DEvent::DisplayedImageChanged);
                if (engine.FireHook(hooks.viewport2D, code, payload) != payload + code) ++wrong;
            }
        });
    }
    RunLoopUntilJoined(loop, workers);
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(subscriber.calls, kWorkers * kFires);
    EXPECT_FALSE(subscriber.offLoopThread);
}

// Teardown while workers wait in FireHook: the engine goes away (the loop ending is the
// dispatcher's own shutdown test). Queued fires fail and never reach the subscriber.
TEST(HookThreads, EngineDestroyedWithFiresQueuedFailsThemAndDeliversNothing) {
    constexpr int kWorkers = 3;
    CHeadlessEventLoop loop;
    CUIDispatcher dispatcher(loop);
    auto engine = std::make_unique<CVexelEngine>(dispatcher);
    HookHandle hook = engine->RegisterHook(kApplicationHookName);
    auto subscriber = std::make_unique<Subscriber>(Subscriber{&loop});
    engine->Subscribe(kApplicationHookName, Answer, subscriber.get());
    std::vector<uint32_t> results(kWorkers, 0);
    std::vector<std::jthread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&, w, e = engine.get()] { results[w] = e->FireHook(hook, 1, 5); });
    ASSERT_TRUE(loop.WaitForPending(kWorkers));
    engine.reset();
    EXPECT_EQ(loop.RunPending(), size_t{kWorkers});
    subscriber.reset();  // a delivery now would touch freed memory (ASan)
    workers.clear();
    EXPECT_EQ(results, std::vector<uint32_t>(kWorkers, kHookFailed));
}

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
