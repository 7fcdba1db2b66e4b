// Release of decoded frames as the memory load rises, and the emergency release behind a
// refused allocation.
#include <gtest/gtest.h>

#include <future>

#include "engine/memory_services.h"
#include "engine_phantoms.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "platform/checked_alloc.h"

namespace vexel {
namespace {

constexpr uint64_t kMiB = 1ull << 20;
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

class MemoryPressure : public testing::Test {
protected:
    void SetUp() override {
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
    std::string m_path;
    std::string m_otherPath;
};

// Refuses every allocation of exactly kRefusedSize while armed.
constexpr size_t kRefusedSize = 777 * 1024;
std::atomic<int> g_refusalsLeft{0};
bool RefuseArmedSize(size_t size) {
    if (size != kRefusedSize) return false;
    return g_refusalsLeft.fetch_sub(1) > 0;
}

class RefusedAllocations : public MemoryPressure {
protected:
    void SetUp() override {
        MemoryPressure::SetUp();
        SetAllocationFaultInjector(RefuseArmedSize);
    }
    void TearDown() override {
        SetAllocationFaultInjector(nullptr);
        g_refusalsLeft = 0;
    }
};

TEST_F(RefusedAllocations, EmergencyReleaseFreesFramesAndTheAllocationSucceeds) {
    CSimulatedMemoryLoad load(10);
    CMemoryServices services(load, QuickRetries());
    CMemoryManager& files = services.Manager();
    auto file = files.Open(m_path);
    DecodeAll(ImageOf(file.file));
    const uint8_t bitmap[16] = {1, 2, 3};
    ASSERT_EQ(services.MemoryCache().Store("view", "panel", bitmap, sizeof bitmap), 0);

    g_refusalsLeft = 1;
    CheckedPtr<uint8_t> block(static_cast<uint8_t*>(CheckedAlloc(kRefusedSize)));
    EXPECT_NE(block, nullptr);
    EXPECT_TRUE(files.PressureMode());
    EXPECT_EQ(FramesWithBuffers(ImageOf(file.file)), 0u) << "forced release skipped frames";
    EXPECT_EQ(services.MemoryCache().TotalBytes(), 0u);

    // A refusal that lasts gives null after the retries, promptly.
    g_refusalsLeft = 1000;
    EXPECT_EQ(CheckedAlloc(kRefusedSize), nullptr);
}

// A release while a file's structure lock is held (as a decode holds it) skips that file and
// frees the others: started from another thread, or as the emergency release of an
// allocation refused under the lock itself. Neither may wait for the lock.
TEST_F(RefusedAllocations, ReleaseUnderAStructureLockSkipsThatFileAndFreesOthers) {
    for (const bool emergency : {false, true}) {
        SCOPED_TRACE(emergency ? "emergency release" : "release from another thread");
        CSimulatedMemoryLoad load(emergency ? 10 : 90);
        CMemoryServices services(load, QuickRetries());
        CMemoryManager& files = services.Manager();
        auto [mine, other] = OpenBothDecoded(files);
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
    }
}

}  // namespace
}  // namespace vexel
