// Thread pool and parallel loop: every index covered once in chunks of 16, work handed only
// to idle threads, work already handed out surviving the pool's destruction.
#include "engine/thread_pool.h"
#include "engine/parallel_thread_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace vexel {
namespace {

uint32_t MaxThreadsToTry() {
    return std::max<uint32_t>(4, CThreadPool::LogicalProcessorCount());
}

TEST(ParallelThreadPool, EveryIndexOnceInAlignedChunksOfSixteen) {
    for (uint32_t count : {0u, 1u, 15u, 16u, 17u, 1000u}) {
        for (uint32_t threads = 1; threads <= MaxThreadsToTry(); ++threads) {
            SCOPED_TRACE(testing::Message() << count << " items, " << threads << " threads");
            CParallelThreadPool pool(threads);
            std::vector<std::atomic<int>> calls(count);
            std::mutex rangesMutex;
            std::vector<std::pair<uint32_t, uint32_t>> ranges;
            pool.ParallelFor(
                [&](uint32_t first, uint32_t last) {
                    std::lock_guard lock(rangesMutex);
                    ranges.emplace_back(first, last);
                    for (uint32_t i = first; i <= last && i < count; ++i)
                        ++calls[i];
                },
                count);
            for (uint32_t i = 0; i < count; ++i)
                ASSERT_EQ(calls[i].load(), 1) << "index " << i;
            EXPECT_EQ(ranges.size(), (count + 15) / 16);
            for (const auto& [first, last] : ranges)
                EXPECT_TRUE(first % 16 == 0 && last == std::min(first + 15, count - 1));
            EXPECT_EQ(pool.BusyCount(), 0);
        }
    }
}

TEST(ThreadPool, NeverMoreItemsInFlightThanThreadsAndHandedOutWorkRuns) {
    for (uint32_t threads = 1; threads <= MaxThreadsToTry(); ++threads) {
        std::atomic<int> running{0}, peak{0}, finished{0};
        auto owned = std::make_shared<int>(7);  // freed with the work: watched by the leak checker
        {
            CThreadPool pool(threads);
            for (int i = 0; i < 200; ++i) {
                ASSERT_TRUE(pool.Submit([&, owned] {
                    const int now = ++running;
                    for (int seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
                    }
                    std::this_thread::yield();
                    --running;
                    ++finished;
                }));
            }
            if (threads % 2) pool.WaitIdle();  // else the destructor runs what was handed out
        }
        EXPECT_EQ(finished.load(), 200) << threads << " threads";
        EXPECT_LE(peak.load(), static_cast<int>(threads)) << threads << " threads";
        EXPECT_EQ(owned.use_count(), 1);
    }
}

}  // namespace
}  // namespace vexel
