// Cross-thread calls: order, the thread they run on, and shutdown while calls are queued;
// tasks the headless loop never reached are destroyed without running.
#include "engine/ui_dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

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

}  // namespace
}  // namespace vexel
