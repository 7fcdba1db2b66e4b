// Frames moving to the disk cache on release and back on demand: the bytes that come back
// are the bytes first decoded, or the frame decodes again; shutdown with work in flight.
#include <gtest/gtest.h>

#include <dirent.h>

#include <chrono>
#include <fstream>

#include "common/test_paths.h"
#include "engine/memory_services.h"
#include "engine_phantoms.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "platform/md5.h"

namespace vexel {
namespace {

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

    std::string Md5Of(CDicomFrame& frame) {
        std::vector<CDicomFrame*> holders;
        const uint8_t* pixels = frame.Pixels(&holders);
        std::string md5 = pixels ? CMd5::Hex(pixels, frame.BufferSize()) : "none";
        CDicomFrame::ReleaseHolders(holders);
        return md5;
    }

    std::filesystem::path m_folder;
    std::string m_path;
    std::string m_reference;
    MemoryServicesOptions m_options;
};

TEST_F(FrameDiskCache, SlowFramesComeBackFromTheCacheQuickOnesDecodeAgain) {
    CSimulatedMemoryLoad load(10);
    CMemoryServices services(load, m_options);
    CFileRef file = services.Manager().Open(m_path).file;
    ASSERT_TRUE(file);
    CDicomFrame& frame = *CDicomImage::Of(*file)->Frame(0);
    ASSERT_EQ(Md5Of(frame), m_reference);

    frame.SetDecodeTimeMs(kDiskCacheDecodeMs - 1);
    ASSERT_TRUE(frame.Release());
    EXPECT_EQ(frame.CacheId(), 0u);
    EXPECT_EQ(Md5Of(frame), m_reference);

    frame.SetDecodeTimeMs(kDiskCacheDecodeMs);
    ASSERT_TRUE(frame.Release());
    const uint32_t id = frame.CacheId();
    ASSERT_NE(id, 0u);
    services.DiskCache()->WaitIdle();
    EXPECT_TRUE(std::filesystem::exists(CBinaryValueCacher::EntryPath(m_options.cacheRoot, id)));
    // With the source file gone the pixels can only come from the cache.
    std::filesystem::remove(m_path);
    EXPECT_EQ(Md5Of(frame), m_reference);
    EXPECT_EQ(frame.CacheId(), id);
    // Released again with the copy on disk: the buffer simply goes.
    EXPECT_TRUE(frame.Release());
    EXPECT_FALSE(frame.HasBuffer());
    EXPECT_EQ(Md5Of(frame), m_reference);
}

TEST_F(FrameDiskCache, DamagedOrMissingCacheFilesMakeTheFrameDecodeAgain) {
    CSimulatedMemoryLoad load(10);
    CMemoryServices services(load, m_options);
    CFileRef file = services.Manager().Open(m_path).file;
    ASSERT_TRUE(file);
    CDicomFrame& frame = *CDicomImage::Of(*file)->Frame(0);
    for (const char* damage : {"flip", "truncate", "remove"}) {
        SCOPED_TRACE(damage);
        ASSERT_EQ(Md5Of(frame), m_reference);
        frame.SetDecodeTimeMs(kDiskCacheDecodeMs);
        // Forget the earlier copy so that this round writes a fresh one.
        if (frame.CacheId() != 0) services.DiskCache()->Delete(frame.CacheId());
        ASSERT_TRUE(frame.Release());
        services.DiskCache()->WaitIdle();
        const auto entry = CBinaryValueCacher::EntryPath(m_options.cacheRoot, frame.CacheId());
        if (damage[0] == 'f') {
            std::fstream f(entry, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(100);
            f.put('\x5A');
        } else {
            damage[0] == 't' ? std::filesystem::resize_file(entry, 1000)
                             : void(std::filesystem::remove(entry));
        }
        EXPECT_EQ(Md5Of(frame), m_reference);
        EXPECT_EQ(frame.CacheId(), 0u);
    }
}

int ThreadCount() {
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks))
            count += entry->d_name[0] != '.';
        closedir(tasks);
    }
    return count;
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

}  // namespace
}  // namespace vexel
