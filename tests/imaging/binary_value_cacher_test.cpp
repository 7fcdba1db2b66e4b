// The frame caches. On disk: every byte that comes back must be the byte that went in, or
// the load must fail. In memory: overwrites, groups, freeing order and refusal under critical
// memory (byte counts worked out by hand); and the release queue's walk (oldest first, objects
// in use skipped unless forced, a stop after a round without progress).
#include "imaging/binary_value_cacher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "common/test_paths.h"
#include "imaging/binary_value_mem_cacher.h"
#include "imaging/releasable_object_queue.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kKiB = 1024;

std::string TestName() {
    return std::string("cache-") + testing::UnitTest::GetInstance()->current_test_info()->name();
}

// A guarded buffer of random bytes and the test's own copy of them.
struct Sample {
    CheckedPtr<uint8_t> buffer;
    std::vector<uint8_t> copy;
};

Sample MakeSample(size_t size, std::mt19937& random) {
    Sample sample;
    sample.buffer.reset(static_cast<uint8_t*>(CheckedAlloc(size)));
    sample.copy.resize(size);
    for (uint8_t& byte : sample.copy)
        byte = static_cast<uint8_t>(random());
    if (sample.buffer) std::memcpy(sample.buffer.get(), sample.copy.data(), size);
    return sample;
}

// Loads id and compares with expected; false when the load failed or gave other bytes.
bool LoadsExactly(CBinaryValueCacher& cache, uint32_t id, const std::vector<uint8_t>& expected) {
    std::vector<uint8_t> loaded(expected.size(), 0);
    return cache.Load(id, loaded.data(), loaded.size()) && loaded == expected;
}

size_t FilesUnder(const fs::path& folder) {
    return size_t(std::count_if(fs::recursive_directory_iterator(folder), {},
                                [](const fs::directory_entry& e) { return e.is_regular_file(); }));
}

CBinaryValueCacher::FreeSpaceProbe Plenty() {
    return [](const fs::path&) { return std::optional<uint64_t>(1ull << 50); };
}

TEST(CBinaryValueCacher, RandomBuffersComeBackByteExactFromMemoryAndFromFile) {
    const fs::path root = test::ScratchDir(TestName());
    CBinaryValueCacher cache(root, {}, Plenty());
    std::mt19937 random(7);
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> stored;
    for (int i = 0; i < 200; ++i) {
        const size_t size = 1 + random() % (96 * kKiB);
        Sample sample = MakeSample(size, random);
        const uint32_t id = cache.Store(sample.buffer, size, i % 3 != 0);
        ASSERT_NE(id, 0u);
        // Whether still in memory or already written, the bytes are the same.
        EXPECT_TRUE(LoadsExactly(cache, id, sample.copy)) << "entry " << i;
        stored.emplace_back(id, std::move(sample.copy));
    }
    cache.WaitIdle();
    for (const auto& [id, bytes] : stored) {
        EXPECT_EQ(test::ReadFileBytes(CBinaryValueCacher::EntryPath(root, id)), bytes) << "file of " << id;
        EXPECT_TRUE(LoadsExactly(cache, id, bytes)) << "entry " << id;
    }
}

TEST(CBinaryValueCacher, DamagedFileFailsTheLoad) {
    using Damage = void (*)(std::vector<uint8_t>&);
    const std::pair<const char*, Damage> damages[] = {
        {"missing", nullptr},
        {"truncated", [](std::vector<uint8_t>& b) { b.resize(4095); }},
        {"extended", [](std::vector<uint8_t>& b) { b.push_back(0); }},
        {"bit flipped", [](std::vector<uint8_t>& b) { b[1234] ^= 0x10; }},
        {"halves swapped",
         [](std::vector<uint8_t>& b) { std::rotate(b.begin(), b.begin() + 2048, b.end()); }}};
    const fs::path root = test::ScratchDir(TestName());
    CBinaryValueCacher cache(root, {}, Plenty());
    std::mt19937 random(3);
    for (const auto& [name, damage] : damages) {
        Sample sample = MakeSample(4096, random);
        const uint32_t id = cache.Store(sample.buffer, 4096, true);
        ASSERT_NE(id, 0u);
        cache.WaitIdle();
        const fs::path file = CBinaryValueCacher::EntryPath(root, id);
        ASSERT_TRUE(LoadsExactly(cache, id, sample.copy));
        fs::remove(file);
        if (damage != nullptr) {
            std::vector<uint8_t> bytes = sample.copy;
            damage(bytes);
            std::ofstream(file, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        }
        std::vector<uint8_t> loaded(4096);
        EXPECT_FALSE(cache.Load(id, loaded.data(), loaded.size())) << name;
    }
}

TEST(CBinaryValueCacher, FailedWriteDropsEvictableEntriesAndKeepsTheOthersInMemory) {
    // A regular file where the root should be: no folder can be made under it.
    const fs::path root = test::ScratchDir(TestName()) / "not-a-folder";
    std::ofstream(root) << "x";
    CBinaryValueCacher cache(root, {}, Plenty());
    std::mt19937 random(4);
    Sample evictable = MakeSample(5000, random);
    Sample kept = MakeSample(7000, random);
    const uint32_t evictableId = cache.Store(evictable.buffer, 5000, true);
    const uint32_t keptId = cache.Store(kept.buffer, 7000, false);
    ASSERT_TRUE(evictableId != 0 && keptId != 0);
    cache.WaitIdle();
    std::vector<uint8_t> loaded(5000);
    EXPECT_FALSE(cache.Load(evictableId, loaded.data(), loaded.size()));
    EXPECT_TRUE(LoadsExactly(cache, keptId, kept.copy));
    EXPECT_EQ(cache.TotalBytes(), 0u) << "nothing was written";
    EXPECT_TRUE(fs::is_regular_file(root));
}

// Sizes in KiB; the probe's answer is switched by the test between writes.
struct EvictionFixture {
    explicit EvictionFixture(DiskCacheLimits limits)
        : root(test::ScratchDir(TestName())),
          cache(root, limits, [this](const fs::path&) -> std::optional<uint64_t> {
              const uint64_t value = freeBytes.load();
              if (value == kUnknown) return std::nullopt;
              return value;
          }) {}
    uint32_t Store(uint64_t kib, bool evictable) {
        Sample sample = MakeSample(size_t(kib * kKiB), random);
        const uint32_t id = cache.Store(sample.buffer, size_t(kib * kKiB), evictable);
        copies[id] = std::move(sample.copy);
        cache.WaitIdle();  // one write at a time, so each space check sees one more entry
        return id;
    }
    bool Present(uint32_t id) { return LoadsExactly(cache, id, copies[id]); }

    static constexpr uint64_t kUnknown = ~0ull;
    fs::path root;
    std::atomic<uint64_t> freeBytes{1ull << 50};
    std::mt19937 random{5};
    std::map<uint32_t, std::vector<uint8_t>> copies;
    CBinaryValueCacher cache;
};

TEST(CBinaryValueCacher, LowFreeSpaceEvictsTheOldestEvictableEntriesOnly) {
    EvictionFixture f({.maxTotalBytes = 1ull << 40, .minFreeBytes = 1024 * kKiB});
    const uint32_t kept1 = f.Store(64, false);
    std::vector<uint32_t> old;
    for (int i = 0; i < 8; ++i)
        old.push_back(f.Store(32, true));
    const uint32_t kept2 = f.Store(16, false);
    EXPECT_EQ(f.cache.TotalBytes(), (64 + 8 * 32 + 16) * kKiB);

    // 900 KiB free of the 1024 wanted: at least 124 KiB of the oldest go, that is 4 x 32.
    f.freeBytes = 900 * kKiB;
    const uint32_t newest = f.Store(32, true);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(fs::exists(CBinaryValueCacher::EntryPath(f.root, old[i])), i >= 4) << i;
    EXPECT_TRUE(f.Present(newest) && f.Present(kept1) && f.Present(kept2));
    EXPECT_EQ(f.cache.TotalBytes(), (64 + 5 * 32 + 16) * kKiB);

    // An unknown free space counts as none: every evictable entry goes, the others stay.
    f.freeBytes = EvictionFixture::kUnknown;
    const uint32_t last = f.Store(8, true);
    EXPECT_FALSE(f.Present(old[7]) || f.Present(newest) || f.Present(last));
    EXPECT_TRUE(f.Present(kept1) && f.Present(kept2));
    EXPECT_EQ(f.cache.TotalBytes(), (64 + 16) * kKiB);
    EXPECT_EQ(FilesUnder(f.root / "cache"), 2u);
}

TEST(CBinaryValueCacher, ConcurrentStoresLoadsAndDeletesNeverGiveWrongBytes) {
    const fs::path root = test::ScratchDir(TestName());
    // A small cap keeps eviction running while the threads work.
    CBinaryValueCacher cache(root, {.maxTotalBytes = 256 * kKiB, .minFreeBytes = 0}, Plenty());
    constexpr int kThreads = 6;
    std::vector<std::vector<std::pair<uint32_t, std::vector<uint8_t>>>> stored(kThreads);
    std::atomic<int> wrongBytes{0};
    auto worker = [&](int thread) {
        std::mt19937 random(100 + thread);
        auto& mine = stored[thread];
        for (int i = 0; i < 150; ++i) {
            Sample sample = MakeSample(1 + random() % (16 * kKiB), random);
            const uint32_t id = cache.Store(sample.buffer, sample.copy.size(), random() % 8 != 0);
            if (id == 0) continue;
            mine.emplace_back(id, std::move(sample.copy));
            const auto& [pick, bytes] = mine[random() % mine.size()];
            std::vector<uint8_t> loaded(bytes.size());
            // Evicted or deleted entries may fail; a success must be exact.
            if (cache.Load(pick, loaded.data(), loaded.size()) && loaded != bytes) ++wrongBytes;
            if (random() % 3 == 0) cache.Delete(mine[random() % mine.size()].first);
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(worker, t);
    for (auto& thread : threads)
        thread.join();
    cache.WaitIdle();
    EXPECT_EQ(wrongBytes.load(), 0);
    // What is left loads exactly, and the byte count is the sum of what is left.
    uint64_t left = 0;
    size_t count = 0;
    for (const auto& mine : stored) {
        for (const auto& [id, bytes] : mine)
            if (LoadsExactly(cache, id, bytes)) left += bytes.size(), ++count;
    }
    EXPECT_EQ(cache.TotalBytes(), left);
    EXPECT_EQ(FilesUnder(root / "cache"), count);
}

TEST(CBinaryValueCacher, DestructorDropsPendingWritesAndRemovesEveryFileAndFolder) {
    const fs::path root = test::ScratchDir(TestName());
    std::ofstream(root / "keep.txt") << "not the cache's";
    std::mt19937 random(8);
    {
        CBinaryValueCacher cache(root, {}, Plenty());
        for (int i = 0; i < 50; ++i) {
            Sample sample = MakeSample(64 * kKiB, random);
            cache.Store(sample.buffer, sample.copy.size(), i % 2 == 0);
        }
        cache.WaitIdle();
        auto zip = cache.NewGroupFile("zip");
        ASSERT_TRUE(zip.has_value());
        std::fclose(zip->stream);
        // Filled cheaply, so that they queue up faster than the writer takes them.
        for (int i = 0; i < 400; ++i) {
            CheckedPtr<uint8_t> buffer(static_cast<uint8_t*>(CheckedAlloc(64 * kKiB)));
            ASSERT_NE(buffer, nullptr);
            std::memset(buffer.get(), i, 64 * kKiB);
            ASSERT_NE(cache.Store(buffer, 64 * kKiB, i % 5 != 0), 0u);
        }
        cache.Delete(3);  // one deletion queued as well
    }
    EXPECT_FALSE(fs::exists(root / "cache"));
    EXPECT_TRUE(fs::exists(root / "keep.txt"));
}


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
