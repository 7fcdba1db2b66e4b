// Subscribers that change the bus while it delivers to them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/vexel_engine.h"
#include "platform/headless_event_loop.h"

namespace vexel {
namespace {

// A subscriber whose behaviour is a test-supplied action.
struct Action {
    std::vector<std::string>* log;
    std::string tag;
    std::function<uint32_t(uint32_t)> run;
};

uint32_t RunAction(uint32_t eventCode, uint64_t, void* context) {
    auto* action = static_cast<Action*>(context);
    action->log->push_back(action->tag);
    return action->run ? action->run(eventCode) : 0;
}

class HookReentry : public testing::Test {
protected:
    uint32_t Add(Action& action) { return m_engine.Subscribe("H", RunAction, &action); }

    CHeadlessEventLoop m_loop;
    CUIDispatcher m_dispatcher{m_loop};
    CVexelEngine m_engine{m_dispatcher};
    HookHandle m_hook = m_engine.RegisterHook("H");
    std::vector<std::string> m_log;
};

TEST_F(HookReentry, SubscriberAddedDuringDeliveryWaitsForTheNextEvent) {
    Action late{&m_log, "late", {}};
    Action first{&m_log, "first", {}};
    first.run = [&](uint32_t) {
        if (m_log.size() == 1) Add(late);
        return 0u;
    };
    Add(first);
    EXPECT_EQ(m_engine.FireHook(m_hook, 1, 0), 0u);
    EXPECT_EQ(m_log, (std::vector<std::string>{"first"}));
    m_engine.FireHook(m_hook, 1, 0);
    EXPECT_EQ(m_log, (std::vector<std::string>{"first", "first", "late"}));
}

TEST_F(HookReentry, SubscriberRemovedDuringDeliveryIsNotCalled) {
    Action third{&m_log, "third", {}};
    Action second{&m_log, "second", {}};
    Action first{&m_log, "first", {}};
    uint32_t secondCookie = 0;
    uint32_t firstCookie = 0;
    first.run = [&](uint32_t) {
        m_engine.Unsubscribe(secondCookie);
        m_engine.Unsubscribe(firstCookie);  // itself
        return 0u;
    };
    firstCookie = Add(first);
    secondCookie = Add(second);
    Add(third);
    EXPECT_EQ(m_engine.FireHook(m_hook, 1, 0), 0u);
    EXPECT_EQ(m_log, (std::vector<std::string>{"first", "third"}));
}

TEST_F(HookReentry, SubscriberMayFireTheSameAndOtherHooks) {
    HookHandle other = m_engine.RegisterHook("Other");
    Action inner{&m_log, "other", {}};
    m_engine.Subscribe("Other", RunAction, &inner);
    Action outer{&m_log, "outer", {}};
    outer.run = [&](uint32_t code) -> uint32_t {
        if (code == 0) return 0;
        m_engine.FireHook(other, 0, 0);
        return m_engine.FireHook(m_hook, code - 1, 0) + 1;
    };
    Add(outer);
    // Codes 2, 1, 0: two nested levels, each adding one to the level below's answer.
    EXPECT_EQ(m_engine.FireHook(m_hook, 2, 0), 2u);
    EXPECT_EQ(m_log, (std::vector<std::string>{"outer", "other", "outer", "other", "outer"}));
}

}  // namespace
}  // namespace vexel
