// Thread pool and parallel loop: every index covered once in chunks of 16, work handed only
// to idle threads, work already handed out surviving the pool's destruction.
#include "engine/thread_pool.h"
#include "engine/parallel_thread_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace vexel {
namespace {

uint32_t MaxThreadsToTry() {
    return std::max<uint32_t>(4, CThreadPool::LogicalProcessorCount());
}

class ParallelPoolCoverage : public ::testing::TestWithParam<std::tuple<uint32_t, uint32_t>> {};

TEST_P(ParallelPoolCoverage, EveryIndexOnceInAlignedChunksOfSixteen) {
    const auto [count, threads] = GetParam();
    CParallelThreadPool pool(threads);
    ASSERT_EQ(pool.ThreadCount(), threads);
    std::vector<std::atomic<int>> calls(count);
    std::mutex rangesMutex;
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    pool.ParallelFor(
        [&](uint32_t first, uint32_t last) {
            {
                std::lock_guard lock(rangesMutex);
                ranges.emplace_back(first, last);
            }
            for (uint32_t i = first; i <= last && i < count; ++i)
                ++calls[i];
        },
        count);

    for (uint32_t i = 0; i < count; ++i)
        ASSERT_EQ(calls[i].load(), 1) << "index " << i;
    EXPECT_EQ(ranges.size(), (count + 15) / 16);
    for (const auto& [first, last] : ranges) {
        EXPECT_EQ(first % 16, 0u);
        EXPECT_EQ(last, std::min(first + 15, count - 1));
    }
    EXPECT_EQ(pool.BusyCount(), 0);
}

std::vector<std::tuple<uint32_t, uint32_t>> CoverageCases() {
    std::vector<std::tuple<uint32_t, uint32_t>> cases;
    for (uint32_t count : {0u, 1u, 15u, 16u, 17u, 1000u})
        for (uint32_t threads = 1; threads <= MaxThreadsToTry(); ++threads)
            cases.emplace_back(count, threads);
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<uint32_t, uint32_t>>& param) {
    return "count" + std::to_string(std::get<0>(param.param)) + "_threads" +
           std::to_string(std::get<1>(param.param));
}

INSTANTIATE_TEST_SUITE_P(CountsAndThreads, ParallelPoolCoverage,
                         ::testing::ValuesIn(CoverageCases()), CaseName);

// Counts how many items run at once.
struct Concurrency {
    std::atomic<int> running{0};
    std::atomic<int> peak{0};
    std::atomic<int> finished{0};

    void Enter() {
        const int now = ++running;
        int seen = peak.load();
        while (now > seen && !peak.compare_exchange_weak(seen, now)) {
        }
    }
    void Leave() {
        --running;
        ++finished;
    }
};

TEST(ThreadPool, NeverMoreItemsInFlightThanThreads) {
    for (uint32_t threads = 1; threads <= MaxThreadsToTry(); ++threads) {
        CThreadPool pool(threads);
        Concurrency concurrency;
        constexpr int kItems = 200;
        for (int i = 0; i < kItems; ++i) {
            ASSERT_TRUE(pool.Submit([&] {
                concurrency.Enter();
                std::this_thread::yield();
                concurrency.Leave();
            }));
        }
        pool.WaitIdle();
        EXPECT_EQ(concurrency.finished.load(), kItems) << threads << " threads";
        EXPECT_LE(concurrency.peak.load(), static_cast<int>(threads)) << threads << " threads";
        EXPECT_EQ(pool.BusyCount(), 0);
    }
}

TEST(ThreadPool, WorkHandedOutRunsBeforeThePoolIsGone) {
    Concurrency concurrency;
    auto owned = std::make_shared<int>(7);  // freed with the work: watched by the leak checker
    {
        CThreadPool pool(3);
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(pool.Submit([&concurrency, owned] {
                concurrency.Enter();
                concurrency.Leave();
            }));
        }
    }
    EXPECT_EQ(concurrency.finished.load(), 3);
    EXPECT_EQ(owned.use_count(), 1);
}

}  // namespace
}  // namespace vexel
