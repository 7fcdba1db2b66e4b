// Cross-thread calls: order, the thread they run on, and shutdown while calls are queued.
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

// Callers blocked in a call when the loop ends are released with a failure, and neither
// their calls nor calls posted earlier run afterwards on state that teardown freed.
TEST(UIDispatcher, CallsQueuedWhenTheLoopEndsNeverRunAndReleaseTheirCallers) {
    constexpr int kBlockedCallers = 3;
    constexpr int kPosts = 5;
    CHeadlessEventLoop loop;
    CUIDispatcher dispatcher(loop);
    auto windowState = std::make_unique<std::vector<int>>();
    std::vector<int>* window = windowState.get();
    std::thread([&] {
        for (int i = 0; i < kPosts; ++i)
            dispatcher.PostToUIThread(
                [window, i]() -> uint32_t { return window->push_back(i), 0; });
    }).join();
    std::vector<std::optional<uint32_t>> results(kBlockedCallers, 1u);
    std::vector<std::thread> callers;
    for (int c = 0; c < kBlockedCallers; ++c) {
        callers.emplace_back([&, c] {
            results[c] = dispatcher.CallOnUIThread([window]() -> uint32_t {
                window->push_back(-1);
                return 1;
            });
        });
    }
    ASSERT_TRUE(loop.WaitForPending(kPosts + kBlockedCallers));
    EXPECT_TRUE(window->empty());
    // Shutdown: the loop ends first, then the state its calls would touch goes away.
    loop.Quit();
    ASSERT_TRUE(loop.Run());
    windowState.reset();
    for (std::thread& caller : callers)
        caller.join();
    for (const auto& result : results)
        EXPECT_EQ(result, std::nullopt);
}

TEST(UIDispatcher, CallsQueuedWhenTheDispatcherIsDestroyedNeverRun) {
    CHeadlessEventLoop loop;
    auto dispatcher = std::make_unique<CUIDispatcher>(loop);
    std::atomic<int> ran{0};
    std::thread([&] {
        for (int i = 0; i < 3; ++i)
            dispatcher->PostToUIThread([&]() -> uint32_t { return ++ran; });
    }).join();
    std::optional<uint32_t> blocked = 1;
    std::thread caller([&, d = dispatcher.get()] {
        blocked = d->CallOnUIThread([&]() -> uint32_t { return ++ran; });
    });
    ASSERT_TRUE(loop.WaitForPending(4));
    dispatcher.reset();
    EXPECT_EQ(loop.RunPending(), 4u);
    caller.join();
    EXPECT_EQ(blocked, std::nullopt);
    EXPECT_EQ(ran.load(), 0);
}

}  // namespace
}  // namespace vexel
