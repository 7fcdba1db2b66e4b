// The hook bus on the engine thread: slots, removal and delivery order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/system_hooks.h"
#include "engine/vexel_engine.h"
#include "platform/headless_event_loop.h"

namespace vexel {
namespace {

// A subscriber that logs its tag and answers with a fixed result.
struct Recorder {
    std::vector<int>* log;
    int tag;
    uint32_t result = 0;
};

uint32_t Record(uint32_t, uint64_t, void* context) {
    auto* recorder = static_cast<Recorder*>(context);
    recorder->log->push_back(recorder->tag);
    return recorder->result;
}

class HookBus : public testing::Test {
protected:
    CHeadlessEventLoop m_loop;
    CUIDispatcher m_dispatcher{m_loop};
    CVexelEngine m_engine{m_dispatcher};
    std::vector<int> m_log;
};

TEST_F(HookBus, EmptyMiddleSlotKeepsLaterCookiesAndTrailingSlotsAreTrimmed) {
    HookHandle hook = m_engine.RegisterHook("H");
    Recorder r1{&m_log, 1}, r2{&m_log, 2}, r3{&m_log, 3}, r4{&m_log, 4};
    m_engine.Subscribe("H", Record, &r1);
    const uint32_t second = m_engine.Subscribe("H", Record, &r2);
    const uint32_t third = m_engine.Subscribe("H", Record, &r3);
    EXPECT_EQ(m_engine.Unsubscribe(second), 0u);
    EXPECT_EQ(m_engine.Unsubscribe(second), 1u);
    EXPECT_EQ(m_engine.FireHook(hook, 1, 0), 0u);
    EXPECT_EQ(m_log, (std::vector<int>{1, 3}));
    EXPECT_EQ(m_engine.Unsubscribe(third), 0u);
    // Slots 2 and 3 are both gone: the next subscription takes slot 2.
    EXPECT_EQ(m_engine.Subscribe("H", Record, &r4), (hook.id << 16) | 2u);
    m_log.clear();
    m_engine.FireHook(hook, 1, 0);
    EXPECT_EQ(m_log, (std::vector<int>{1, 4}));
}

TEST_F(HookBus, FirstNonZeroResultStopsDelivery) {
    HookHandle hook = m_engine.RegisterHook("H");
    Recorder r1{&m_log, 1, 0}, r2{&m_log, 2, 7}, r3{&m_log, 3, 9};
    for (Recorder* r : {&r1, &r2, &r3})
        m_engine.Subscribe("H", Record, r);
    EXPECT_EQ(m_engine.FireHook(hook, 1, 0), 7u);
    EXPECT_EQ(m_engine.DeliverHook(hook, 1, 0), 7u);
    EXPECT_EQ(m_log, (std::vector<int>{1, 2, 1, 2}));
}

TEST_F(HookBus, RemovedHookIsNeverDeliveredAgain) {
    HookHandle hook = m_engine.RegisterHook("H");
    Recorder r{&m_log, 1, 5};
    m_engine.Subscribe("H", Record, &r);
    EXPECT_EQ(m_engine.FireHook(hook, 1, 0), 5u);  // now the last validated hook
    EXPECT_EQ(m_engine.UnregisterHook(hook), 0u);
    EXPECT_EQ(m_engine.UnregisterHook(hook), 1u);
    EXPECT_EQ(m_engine.FireHook(hook, 1, 0), kHookFailed);
    EXPECT_EQ(m_engine.DeliverHook(hook, 1, 0), kHookFailed);
    EXPECT_EQ(m_engine.FireHook(HookHandle{}, 1, 0), kHookFailed);
    EXPECT_EQ(m_engine.DeliverHook(HookHandle{}, 1, 0), kHookFailed);
    HookHandle again = m_engine.RegisterHook("H");
    EXPECT_NE(again.id, hook.id);
    EXPECT_EQ(m_engine.FireHook(hook, 1, 0), kHookFailed);
    EXPECT_EQ(m_engine.FireHook(again, 1, 0), 0u);
    EXPECT_EQ(m_log, (std::vector<int>{1}));
}

TEST_F(HookBus, SystemHooksRegisterInOrderAndUnregister) {
    SystemHooks hooks;
    ASSERT_TRUE(RegisterSystemHooks(m_engine, hooks));
    EXPECT_EQ(hooks.workspace.id, 1u);
    EXPECT_EQ(hooks.viewport2D.id, 2u);
    EXPECT_EQ(hooks.application.id, 3u);
    EXPECT_EQ(hooks.volumeManager.id, 4u);
    Recorder r{&m_log, 1};
    EXPECT_EQ(m_engine.Subscribe("VexelHook/Viewport2D/Event", Record, &r), 0x20001u);
    EXPECT_EQ(m_engine.Subscribe("VexelHook/Application/Shutdown", Record, &r), 0x30001u);
    SystemHooks twice;
    EXPECT_FALSE(RegisterSystemHooks(m_engine, twice));
    EXPECT_FALSE(twice.workspace);
    EXPECT_EQ(m_engine.FireHook(hooks.viewport2D, 5, 0), 0u);  // still registered
    UnregisterSystemHooks(m_engine, hooks);
    EXPECT_FALSE(hooks.viewport2D);
    EXPECT_EQ(m_engine.Subscribe("VexelHook/Workspace/PanelEvent", Record, &r), 0u);
    EXPECT_EQ(m_engine.Subscribe("VexelHook/VolumeManager/Event", Record, &r), 0u);
}

}  // namespace
}  // namespace vexel
