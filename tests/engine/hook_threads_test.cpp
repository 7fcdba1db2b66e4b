// FireHook from worker threads: delivery on the loop thread, and shutdown with fires queued.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "engine/system_hooks.h"
#include "engine/vexel_engine.h"
#include "platform/headless_event_loop.h"

namespace vexel {
namespace {

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
    constexpr int kWorkers = 4;
    constexpr int kFires = 200;
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
    std::thread closer([&] {
        workers.clear();
        loop.Quit();
    });
    ASSERT_TRUE(loop.Run());
    closer.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(subscriber.calls, kWorkers * kFires);
    EXPECT_FALSE(subscriber.offLoopThread);
}

// Teardown: the loop ends, or the engine goes away, while workers wait in FireHook.
enum class Teardown { EndLoop, DestroyEngine };

class HookShutdown : public testing::TestWithParam<Teardown> {};

TEST_P(HookShutdown, QueuedFiresFailAndNeverReachSubscribers) {
    constexpr int kWorkers = 3;
    CHeadlessEventLoop loop;
    CUIDispatcher dispatcher(loop);
    auto engine = std::make_unique<CVexelEngine>(dispatcher);
    HookHandle hook = engine->RegisterHook(kApplicationHookName);
    auto subscriber = std::make_unique<Subscriber>(Subscriber{&loop});
    engine->Subscribe(kApplicationHookName, Answer, subscriber.get());
    std::vector<uint32_t> results(kWorkers, 0);
    std::vector<std::jthread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w, e = engine.get()] { results[w] = e->FireHook(hook, 1, 5); });
    }
    ASSERT_TRUE(loop.WaitForPending(kWorkers));
    if (GetParam() == Teardown::EndLoop) {
        loop.Quit();
        ASSERT_TRUE(loop.Run());
    } else {
        engine.reset();
        EXPECT_EQ(loop.RunPending(), size_t{kWorkers});
    }
    subscriber.reset();
    workers.clear();
    for (uint32_t result : results)
        EXPECT_EQ(result, kHookFailed);
}

INSTANTIATE_TEST_SUITE_P(Teardowns, HookShutdown,
                         testing::Values(Teardown::EndLoop, Teardown::DestroyEngine));

}  // namespace
}  // namespace vexel
