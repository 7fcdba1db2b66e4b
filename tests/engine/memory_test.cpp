// Memory: files opened through the registry (one parse per path, shared by reference count,
// evicted oldest first and never while referenced); decoded frames released as the load rises
// and by the emergency release behind a refused allocation; frames through the disk cache
// (the bytes that come back are the bytes first decoded, or the frame decodes again); and
// many threads opening, decoding, releasing and reopening files while the load swings across
// every threshold and some allocations are refused: every frame read back must equal its
// first decode, and nothing may deadlock, leak or race (run under the sanitizers too).
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <random>
#include <thread>
#include <vector>

#include "common/test_paths.h"
#include "engine/memory_services.h"
#include "engine_phantoms.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "platform/checked_alloc.h"
#include "platform/md5.h"

namespace vexel {
namespace {

constexpr int kFrames = 300;  // 128 KiB each: 37.5 MiB per file

MemoryServicesOptions QuickRetries() {
    MemoryServicesOptions options = test::QuietOptions();
    options.manager.allocationRetries = 3;
    options.manager.retryPause = std::chrono::milliseconds(1);
    return options;
}

CDicomImage& ImageOf(const CFileRef& file) {
    return *CDicomImage::Of(*file);
}

void DecodeAll(CDicomImage& image) {
    for (size_t i = 0; i < image.FrameCount(); ++i)
        ASSERT_NE(image.Frame(i)->Pixels(nullptr), nullptr);
}

size_t FramesWithBuffers(const CDicomImage& image) {
    size_t count = 0;
    for (size_t i = 0; i < image.FrameCount(); ++i)
        count += image.Frame(i)->HasBuffer();
    return count;
}

// Refuses every allocation of exactly kRefusedSize while armed.
constexpr size_t kRefusedSize = 777 * 1024;
std::atomic<int> g_refusalsLeft{0};
bool RefuseArmedSize(size_t size) {
    return size == kRefusedSize && g_refusalsLeft.fetch_sub(1) > 0;
}

class RefusedAllocations : public testing::Test {
protected:
    void SetUp() override {
        SetAllocationFaultInjector(RefuseArmedSize);
        m_path = test::MultiFrameCt(kFrames);
        ASSERT_FALSE(m_path.empty());
        // A second copy under another path: the registry keys by path.
        m_otherPath = m_path + ".copy.dcm";
        std::filesystem::copy_file(m_path, m_otherPath,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    // Both copies opened through files, every frame decoded.
    std::pair<CFileRef, CFileRef> OpenBothDecoded(CMemoryManager& files) {
        auto first = files.Open(m_path), second = files.Open(m_otherPath);
        DecodeAll(ImageOf(first.file));
        DecodeAll(ImageOf(second.file));
        return {std::move(first.file), std::move(second.file)};
    }
    void TearDown() override {
        SetAllocationFaultInjector(nullptr);
        g_refusalsLeft = 0;
    }
    std::string m_path;
    std::string m_otherPath;
};

// A release while a file's structure lock is held (as a decode holds it) skips that file and
// frees the others: started from another thread, or as the emergency release of an
// allocation refused under the lock itself, which also empties the memory cache, enters
// pressure mode and lets the allocation succeed. Neither may wait for the lock.
TEST_F(RefusedAllocations, ReleaseUnderAStructureLockSkipsThatFileAndFreesOthers) {
    for (const bool emergency : {false, true}) {
        SCOPED_TRACE(emergency ? "emergency release" : "release from another thread");
        CSimulatedMemoryLoad load(emergency ? 10 : 90);
        CMemoryServices services(load, QuickRetries());
        CMemoryManager& files = services.Manager();
        auto [mine, other] = OpenBothDecoded(files);
        const uint8_t bitmap[16] = {1, 2, 3};
        if (emergency) {
            ASSERT_EQ(services.MemoryCache().Store("view", "panel", bitmap, sizeof bitmap), 0);
        }
        std::promise<void> locked, done;
        auto attempt = std::async(std::launch::async, [&, file = mine.Get()] {
            std::lock_guard lock(file->StructureLock());
            if (!emergency) {
                locked.set_value();
                done.get_future().wait();
                return true;
            }
            g_refusalsLeft = 1;
            CheckedPtr<uint8_t> block(static_cast<uint8_t*>(CheckedAlloc(kRefusedSize)));
            return block != nullptr;
        });
        if (!emergency) {
            locked.get_future().wait();
            auto release = std::async(std::launch::async, [&] { files.ReleaseMemoryNow(); });
            const bool finished =
                release.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
            done.set_value();
            ASSERT_TRUE(finished) << "release waited for a structure lock";
        }
        ASSERT_EQ(attempt.wait_for(std::chrono::seconds(10)), std::future_status::ready)
            << "deadlock in the emergency release";
        EXPECT_TRUE(attempt.get());
        EXPECT_EQ(FramesWithBuffers(ImageOf(mine)), size_t(kFrames));
        EXPECT_EQ(FramesWithBuffers(ImageOf(other)), 0u);
        if (!emergency) continue;
        EXPECT_TRUE(files.PressureMode());
        EXPECT_EQ(services.MemoryCache().TotalBytes(), 0u);
        // A refusal that lasts gives null after the retries, promptly.
        g_refusalsLeft = 1000;
        EXPECT_EQ(CheckedAlloc(kRefusedSize), nullptr);
    }
}

struct Registry {
    CSimulatedMemoryLoad load{10};
    CMemoryServices services{load, test::QuietOptions()};
    CMemoryManager& files = services.Manager();
};

// Files constructed so far: file ids come from one process-wide counter.
uint32_t FilesMadeSoFar() {
    return CDicomFile().Id();
}

TEST(FileRegistry, ThreadsOpeningOnePathShareOneParse) {
    const auto paths = test::SmallCtSeries(8);
    Registry r;
    CMemoryManager& files = r.files;

    constexpr int kThreads = 8;
    std::vector<CFileRef> refs(kThreads);
    std::barrier start(kThreads);
    const uint32_t before = FilesMadeSoFar();
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                auto result = files.Open(paths[0]);
                EXPECT_EQ(result.status, ReadStatus::Ok);
                refs[t] = std::move(result.file);
            });
        }
    }
    const uint32_t after = FilesMadeSoFar();
    EXPECT_EQ(after - before - 1, 1u) << "the path was parsed more than once";
    for (const CFileRef& ref : refs)
        EXPECT_EQ(ref.Get(), refs[0].Get());
    EXPECT_EQ(refs[0]->ReferenceCount(), kThreads);
    EXPECT_EQ(files.RegisteredCount(), 1u);
    EXPECT_EQ(files.UnusedCount(), 0u);
    // A decoded file given back and evicted leaves the release queue at once.
    ASSERT_NE(CDicomImage::Of(*refs[0])->Frame(0)->Pixels(nullptr), nullptr);
    refs.clear();
    EXPECT_EQ(r.services.ReleaseQueue().Count(), 1u);
    files.ReleaseMemoryNow();
    EXPECT_EQ(r.services.ReleaseQueue().Count(), 0u);
    EXPECT_EQ(files.RegisteredCount(), 0u);
    files.WaitForDeletions();
}

TEST(FileRegistry, EvictionTakesOldestUnusedAndSparesReferencedFiles) {
    const auto paths = test::SmallCtSeries(80);
    Registry r;
    CMemoryManager& files = r.files;

    // 70 files used and given back in path order; the oldest stays open again by someone.
    for (size_t i = 0; i < 70; ++i)
        ASSERT_TRUE(files.Open(paths[i]).file);
    CFileRef held = std::move(files.Open(paths[0]).file);
    ASSERT_EQ(files.UnusedCount(), 69u);

    // At 75 % with nothing releasable, 50 of the oldest unused files go.
    files.OnMemoryPressure(true, true, false);
    files.WaitForDeletions();
    EXPECT_TRUE(files.PressureMode());
    EXPECT_EQ(files.RegisteredCount(), 70u - 50u);
    EXPECT_EQ(files.UnusedCount(), 69u - 50u);
    EXPECT_EQ(held->ReferenceCount(), 1);
    EXPECT_EQ(files.FindAndReference(paths[0]), held.Get());
    files.ReleaseReference(held.Get());
    // Files 1 to 50 were the oldest; 51 and later stay.
    EXPECT_EQ(files.FindAndReference(paths[50]), nullptr);
    CDicomFile* kept = files.FindAndReference(paths[51]);
    ASSERT_NE(kept, nullptr);
    files.ReleaseReference(kept);

    // Back under 70 % pressure mode ends.
    r.load.Set(60);
    files.PollMemoryLoad();
    EXPECT_FALSE(files.PressureMode());
}

TEST(FileRegistry, ReferencesRacingEvictionNeverLoseAFileInUse) {
    const auto paths = test::SmallCtSeries(80);
    Registry r;
    CMemoryManager& files = r.files;
    std::atomic<bool> stop{false};
    std::atomic<int> broken{0};
    std::vector<std::jthread> users;
    for (int t = 0; t < 4; ++t) {
        users.emplace_back([&, t] {
            for (int round = 0; !stop; ++round) {
                const std::string& path = paths[size_t(t * 20 + round % 20)];
                auto result = files.Open(path);
                if (!result.file) continue;
                // While referenced the file must stay whole and registered.
                CDicomFrame* frame = CDicomImage::Of(*result.file)->Frame(0);
                std::vector<CDicomFrame*> holders;
                if (frame == nullptr || frame->Pixels(&holders) == nullptr) ++broken;
                if (files.FindAndReference(path) != result.file.Get()) ++broken;
                files.ReleaseReference(result.file.Get());
                CDicomFrame::ReleaseHolders(holders);
            }
        });
    }
    for (int i = 0; i < 200; ++i) {
        files.ReleaseMemoryNow();
        std::this_thread::yield();
    }
    stop = true;
    users.clear();
    EXPECT_EQ(broken.load(), 0);
}

// MD5 of the frame's pixels, "none" when it cannot be decoded.
std::string Md5Of(CDicomFrame& frame) {
    std::vector<CDicomFrame*> holders;
    const uint8_t* pixels = frame.Pixels(&holders);
    std::string md5 = pixels ? CMd5::Hex(pixels, frame.BufferSize()) : "none";
    CDicomFrame::ReleaseHolders(holders);
    return md5;
}

class FrameDiskCache : public testing::Test {
protected:
    void SetUp() override {
        const auto name = testing::UnitTest::GetInstance()->current_test_info()->name();
        m_folder = test::ScratchDir(std::string("frame-disk-cache-") + name);
        const auto source = test::SmallCtSeries(8).at(3);
        m_reference = test::ReferenceFrameMd5(source, 0);
        // A private copy that the test may damage.
        m_path = (m_folder / "slice.dcm").string();
        std::filesystem::copy_file(source, m_path);
        m_options.cacheRoot = m_folder / "instance";
        m_options.manager.startMonitor = false;
    }

    std::filesystem::path m_folder;
    std::string m_path;
    std::string m_reference;
    MemoryServicesOptions m_options;
};

// Quick frames decode again; a slow frame's damaged or missing cache file makes it decode
// again; with the source gone, a slow frame's pixels can only come from the cache.
TEST_F(FrameDiskCache, SlowFramesComeBackFromTheCacheOrDecodeAgain) {
    CSimulatedMemoryLoad load(10);
    CMemoryServices services(load, m_options);
    CFileRef file = services.Manager().Open(m_path).file;
    ASSERT_TRUE(file);
    CDicomFrame& frame = *CDicomImage::Of(*file)->Frame(0);
    ASSERT_EQ(Md5Of(frame), m_reference);
    frame.SetDecodeTimeMs(kDiskCacheDecodeMs - 1);
    ASSERT_TRUE(frame.Release());
    EXPECT_EQ(frame.CacheId(), 0u);

    frame.SetDecodeTimeMs(kDiskCacheDecodeMs);
    for (const char* damage : {"flip", "truncate", "remove", "none"}) {
        SCOPED_TRACE(damage);
        ASSERT_EQ(Md5Of(frame), m_reference);
        EXPECT_EQ(frame.CacheId(), 0u) << "a damaged copy is forgotten";
        ASSERT_TRUE(frame.Release());
        ASSERT_NE(frame.CacheId(), 0u);
        services.DiskCache()->WaitIdle();
        const auto entry = CBinaryValueCacher::EntryPath(m_options.cacheRoot, frame.CacheId());
        ASSERT_TRUE(std::filesystem::exists(entry));
        if (damage[0] == 'f') {
            std::fstream f(entry, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(100);
            f.put('\x5A');
        } else if (damage[0] != 'n') {
            damage[0] == 't' ? std::filesystem::resize_file(entry, 1000)
                             : void(std::filesystem::remove(entry));
        }
    }
    const uint32_t id = frame.CacheId();
    std::filesystem::remove(m_path);
    EXPECT_EQ(Md5Of(frame), m_reference);
    EXPECT_EQ(frame.CacheId(), id);
    // Released again with the copy on disk: the buffer simply goes.
    EXPECT_TRUE(frame.Release());
    EXPECT_FALSE(frame.HasBuffer());
    EXPECT_EQ(Md5Of(frame), m_reference);
}

int ThreadCount() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return int(std::distance(begin(tasks), end(tasks)));
}

TEST_F(FrameDiskCache, ShutdownWithWorkInFlightIsQuickAndLeavesNothing) {
    const auto paths = test::SmallCtSeries(200);
    const int threadsBefore = ThreadCount();
    const auto start = std::chrono::steady_clock::now();
    {
        CSimulatedMemoryLoad load(10);
        CMemoryServices services(load, m_options);
        std::vector<CFileRef> open;
        for (const auto& path : paths) {
            auto result = services.Manager().Open(path);
            ASSERT_TRUE(result.file);
            CDicomFrame* frame = CDicomImage::Of(*result.file)->Frame(0);
            ASSERT_NE(frame->Pixels(nullptr), nullptr);
            frame->SetDecodeTimeMs(50);
            open.push_back(std::move(result.file));
        }
        // Half the files given back and evicted (deletion queue), the rest cached to disk.
        open.resize(open.size() / 2);
        services.Manager().ReleaseMemoryNow();
        EXPECT_GT(services.DiskCache()->EntryCount(), 0u);
        open.clear();
    }
    // How long it took is a figure for the record, not a verdict (a busy machine is slow).
    const auto elapsed = std::chrono::steady_clock::now() - start;
    RecordProperty("seconds", std::to_string(std::chrono::duration<double>(elapsed).count()));
    EXPECT_EQ(ThreadCount(), threadsBefore) << "a thread outlived the services";
    EXPECT_FALSE(std::filesystem::exists(m_options.cacheRoot / "cache"));
}

constexpr size_t kFrameBytes = 64 * 64 * 2;
std::atomic<uint32_t> g_frameAllocations{0};

// One frame-sized allocation in 97 is refused once.
bool RefuseSomeFrameAllocations(size_t size) {
    return size == kFrameBytes && g_frameAllocations.fetch_add(1) % 97 == 0;
}

// VEXEL_STRESS_SECONDS shortens or lengthens the run (30 s by default).
std::chrono::seconds StressDuration() {
    const char* text = std::getenv("VEXEL_STRESS_SECONDS");
    return std::chrono::seconds(text && std::atoi(text) > 0 ? std::atoi(text) : 30);
}

TEST(MemoryStress, FramesReadBackEqualTheirFirstDecodeUnderSwingingLoad) {
    constexpr int kFiles = 500;
    constexpr int kThreads = 8;
    const auto paths = test::SmallCtSeries(kFiles);
    ASSERT_EQ(paths.size(), size_t(kFiles));
    std::vector<std::string> reference;
    for (const auto& path : paths)
        reference.push_back(test::ReferenceFrameMd5(path, 0));

    CSimulatedMemoryLoad load(50);
    MemoryServicesOptions options;
    options.cacheRoot = test::ScratchDir("memory-stress") / "instance";
    options.diskLimits.maxTotalBytes = 256 * kFrameBytes;  // evictions happen all the time
    options.manager.monitorPeriod = std::chrono::milliseconds(5);
    options.manager.allocationRetries = 5;
    options.manager.retryPause = std::chrono::milliseconds(1);
    std::atomic<uint64_t> reads{0}, mismatches{0}, failures{0};
    {
        CMemoryServices services(load, options);
        CMemoryManager& files = services.Manager();
        SetAllocationFaultInjector(RefuseSomeFrameAllocations);
        std::atomic<bool> stop{false};
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                std::mt19937 random(static_cast<uint32_t>(t));
                while (!stop) {
                    const size_t index = random() % kFiles;
                    auto [file, status] = files.Open(paths[index]);
                    if (!file) {
                        ++failures;
                        continue;
                    }
                    CDicomFrame* frame = CDicomImage::Of(*file)->Frame(0);
                    // Every other file poses as slow, so its frames go through the disk cache.
                    if (index % 2 == 0) frame->SetDecodeTimeMs(kDiskCacheDecodeMs);
                    if (const std::string md5 = Md5Of(*frame); md5 != "none") {
                        ++reads;
                        mismatches += md5 != reference[index];
                    }
                    const uint32_t action = random() % 16;
                    if (action == 0) frame->Release();
                    if (action == 1) {
                        file = CFileRef();
                        files.DiscardIfUnused(paths[index]);
                    }
                    if (action == 2) files.ReleaseMemoryNow();
                }
            });
        }
        const uint32_t swing[] = {50, 71, 73, 76, 80, 86, 95, 74, 69, 88, 60};
        const auto end = std::chrono::steady_clock::now() + StressDuration();
        for (size_t step = 0; std::chrono::steady_clock::now() < end; ++step) {
            load.Set(swing[step % std::size(swing)]);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        stop = true;
        threads.clear();
        SetAllocationFaultInjector(nullptr);
    }
    RecordProperty("reads", std::to_string(reads.load()));
    EXPECT_EQ(mismatches.load(), 0u);
    EXPECT_GT(reads.load(), 1000u);
    // Refused allocations may fail a decode now and then, never most of them.
    EXPECT_LT(failures.load(), reads.load() / 10);
    EXPECT_FALSE(std::filesystem::exists(options.cacheRoot / "cache"));
}

}  // namespace
}  // namespace vexel
