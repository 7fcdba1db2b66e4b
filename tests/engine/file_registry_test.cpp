// Opening files through the registry: one parse per path, shared by reference count,
// evicted oldest first and never while referenced.
#include <gtest/gtest.h>

#include <barrier>
#include <thread>
#include <vector>

#include "engine/memory_services.h"
#include "engine_phantoms.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"

namespace vexel {
namespace {

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

}  // namespace
}  // namespace vexel
