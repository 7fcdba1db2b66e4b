// The memory cache of rendered bitmaps (overwrites, groups, freeing order, refusal under
// critical memory; byte counts worked out by hand) and the release queue's walk (oldest first,
// objects in use skipped unless forced, a stop after a round without progress).
#include "imaging/binary_value_mem_cacher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "imaging/releasable_object_queue.h"

namespace vexel {
namespace {

constexpr uint64_t kMiB = 1ull << 20;

std::vector<uint8_t> Bytes(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

using Cache = CBinaryValueMemCacher;

int StoreBytes(Cache& cache, std::string_view key, std::string_view group,
               const std::vector<uint8_t>& bytes) {
    return cache.Store(key, group, bytes.data(), bytes.size());
}

// Fetches key as size bytes; the status, and the bytes when fetched.
std::pair<int, std::vector<uint8_t>> FetchBytes(const Cache& cache, std::string_view key,
                                                size_t size) {
    std::vector<uint8_t> out(size);
    const int status = cache.Fetch(key, out.data(), size);
    return {status, status == Cache::kFetched ? out : std::vector<uint8_t>{}};
}

TEST(CBinaryValueMemCacher, OverwriteReplacesBytesAndClearsStale) {
    Cache cache;
    ASSERT_EQ(StoreBytes(cache, "a", "g", Bytes(100, 1)), Cache::kStored);
    cache.MarkStale("g");
    EXPECT_EQ(cache.StaleBytes(), 100u);
    EXPECT_EQ(FetchBytes(cache, "a", 100).first, Cache::kStaleOrResized);

    for (const size_t size : {150u, 30u}) {  // larger, then smaller
        const std::vector<uint8_t> bytes = Bytes(size, uint8_t(size));
        ASSERT_EQ(StoreBytes(cache, "a", "g", bytes), Cache::kStored);
        EXPECT_EQ(cache.StaleBytes(), 0u);
        EXPECT_EQ(cache.TotalBytes(), size);
        EXPECT_EQ(FetchBytes(cache, "a", size), std::make_pair(Cache::kFetched, bytes));
        EXPECT_EQ(FetchBytes(cache, "a", 100).first, Cache::kStaleOrResized);
    }
}

TEST(CBinaryValueMemCacher, FreeDropsEntriesInKeyOrder) {
    Cache cache;
    // Stored out of key order: d, b, a, c.
    StoreBytes(cache, "d", "g2", Bytes(2 * kMiB, 4));
    StoreBytes(cache, "b", "g1", Bytes(3 * kMiB / 2, 2));
    StoreBytes(cache, "a", "g1", Bytes(kMiB, 1));
    StoreBytes(cache, "c", "g2", Bytes(kMiB / 2, 3));
    cache.MarkStale("g1");
    EXPECT_EQ(cache.StaleBytes(), 5 * kMiB / 2);

    EXPECT_EQ(cache.Free(0), 0u);
    // a (1 MiB) is not enough, a + b (2.5 MiB) is: 2 MiB reported, rounded down.
    EXPECT_EQ(cache.Free(2), 2u);
    EXPECT_EQ(cache.TotalBytes(), 5 * kMiB / 2);
    EXPECT_EQ(FetchBytes(cache, "a", kMiB).first, Cache::kNotStored);
    EXPECT_EQ(FetchBytes(cache, "b", 3 * kMiB / 2).first, Cache::kNotStored);
    EXPECT_EQ(FetchBytes(cache, "c", kMiB / 2).first, Cache::kFetched);

    // The freed keys left their group: a new "a" elsewhere is not marked through g1.
    StoreBytes(cache, "a", "g3", Bytes(kMiB, 1));
    cache.MarkStale("g1");
    EXPECT_EQ(FetchBytes(cache, "a", kMiB).first, Cache::kFetched);

    EXPECT_EQ(cache.Free(100), 3u);  // a, c, d: 3.5 MiB
    EXPECT_EQ(cache.TotalBytes(), 0u);
}

TEST(CBinaryValueMemCacher, CriticalMemoryRefusesStores) {
    std::atomic<bool> critical{false};
    Cache cache([&critical] { return critical.load(); });
    const std::vector<uint8_t> value = Bytes(100, 1);
    ASSERT_EQ(StoreBytes(cache, "a", "g", value), Cache::kStored);
    ASSERT_EQ(StoreBytes(cache, "b", "g", value), Cache::kStored);
    critical = true;
    EXPECT_EQ(StoreBytes(cache, "c", "g", value), Cache::kMemoryPressure);
    EXPECT_EQ(FetchBytes(cache, "c", 100).first, Cache::kNotStored);
    // A refused replacement must not leave the old value to be fetched as current.
    EXPECT_EQ(StoreBytes(cache, "a", "g", Bytes(100, 2)), Cache::kMemoryPressure);
    EXPECT_EQ(FetchBytes(cache, "a", 100).first, Cache::kNotStored);
    EXPECT_EQ(FetchBytes(cache, "b", 100), std::make_pair(Cache::kFetched, value));
    EXPECT_EQ(cache.TotalBytes(), 100u);
    critical = false;
    EXPECT_EQ(StoreBytes(cache, "c", "g", value), Cache::kStored);
}


class Holding final : public CReleasableObject {
public:
    Holding(CReleasableObjectQueue& queue, int64_t bytes, std::vector<int>* log, int name)
        : m_log(log), m_name(name) {
        SetResidentSize(bytes);
        EnterReleaseQueue(&queue);
    }
    ~Holding() override { LeaveReleaseQueue(); }
    bool Release() override {
        m_log->push_back(m_name);
        return !pinned;
    }
    bool IsInUse() const override { return inUse; }

    bool inUse = false;
    bool pinned = false;  // has users: cannot let go

private:
    std::vector<int>* m_log;
    int m_name;
};

TEST(ReleasableObjectQueue, PassReleasesOldestFirstUpToTheTarget) {
    CReleasableObjectQueue queue;
    std::vector<int> log;
    Holding a(queue, 100, &log, 1), b(queue, 100, &log, 2), c(queue, 100, &log, 3);
    EXPECT_EQ(queue.ReleasePass(false, 150), 200u);
    EXPECT_EQ(log, (std::vector<int>{1, 2}));
    EXPECT_EQ(a.ResidentSize(), 0);
    EXPECT_EQ(queue.Count(), 1u) << "released objects stay out";
}

TEST(ReleasableObjectQueue, ObjectsInUseAreKeptUnlessForcedAndPinnedOnesAlways) {
    CReleasableObjectQueue queue;
    std::vector<int> log;
    Holding a(queue, 100, &log, 1), b(queue, 100, &log, 2), c(queue, 100, &log, 3);
    a.inUse = true;
    c.pinned = true;
    // b goes; a is skipped, c refuses: one round without progress ends the pass.
    EXPECT_EQ(queue.ReleasePass(false, 1000), 100u);
    EXPECT_EQ(log, (std::vector<int>{2, 3}));
    EXPECT_EQ(queue.Count(), 2u);
    log.clear();
    EXPECT_EQ(queue.ReleasePass(true, 1000), 100u);
    EXPECT_EQ(log, (std::vector<int>{3, 1, 3}));  // c is tried again after progress
    EXPECT_EQ(queue.Count(), 1u);
    EXPECT_EQ(queue.PopFront(), &c);
}

}  // namespace
}  // namespace vexel
