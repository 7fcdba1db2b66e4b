// The hook bus on the engine thread: removal, delivery order, and subscribers that change
// the bus while it delivers to them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/vexel_engine.h"
#include "platform/headless_event_loop.h"

namespace vexel {
namespace {

// A subscriber that logs its tag and runs a test-supplied action (none: answers result).
struct Action {
    std::vector<std::string>* log;
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
    std::vector<std::string> m_log;
};

using Log = std::vector<std::string>;

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

}  // namespace
}  // namespace vexel
