// The element store's arenas: refused memory leaves a consistent file, and deferred loads on
// several threads never disturb lookups that run without a lock.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/test_paths.h"
#include "dicom/dicom_reader.h"
#include "phantom/phantom_writer.h"
#include "platform/checked_alloc.h"

namespace vexel {
namespace {

uint8_t* Guarded(std::string_view bytes) {
    auto* raw = static_cast<uint8_t*>(CheckedAlloc(bytes.size() + 1));
    std::memcpy(raw, bytes.data(), bytes.size());
    raw[bytes.size()] = 0;
    return raw;
}

// A refused block leaves no element (and frees the value it was given); a refused value
// record leaves the element without a value. Either way the file stays usable.
TEST(ElementStore, RefusedMemoryLeavesAConsistentFile) {
    constexpr uint32_t kElementsPerBlock = CElementArena::kBlockSize / sizeof(CDicomElement);
    // Elements added first: the root's block holds kElementsPerBlock - 1 more.
    for (const uint32_t before : {kElementsPerBlock - 1, 0u}) {
        const bool expectElement = before == 0;  // else the element block is refused
        CDicomFile file;
        for (uint16_t e = 0; e < before; ++e)
            file.AddElement(file.Root(), 0x0009, static_cast<uint16_t>(0x1000 + e), VrCode::LO,
                            nullptr, 0, 0, 0);
        SetAllocationFaultInjector([](size_t size) { return size == CElementArena::kBlockSize; });
        CDicomElement* added = file.AddElement(file.Root(), 0x0028, 0x0010, VrCode::US,
                                               Guarded(std::string_view("\x00\x02", 2)), 0, 2, 0);
        SetAllocationFaultInjector(nullptr);
        EXPECT_EQ(added != nullptr, expectElement) << before;
        EXPECT_EQ(file.ElementCount(), before + (expectElement ? 1 : 0)) << before;
        EXPECT_TRUE(added == nullptr || !added->HasValue());
        EXPECT_EQ(file.Integer(0x00280010, -1), -1) << before;
        file.AddElement(file.Root(), 0x0008, 0x0060, VrCode::CS, Guarded("CT"), 0, 2, 0);
        EXPECT_EQ(file.String(0x00080060), "CT") << before;
        EXPECT_TRUE(before == 0 || file.FindElement(0x00091000) != nullptr);
    }
}

// Deferred loads add value records (and arena blocks) while other threads look elements up
// without a lock; run under the sanitizers, a moved block table would show here.
TEST(ElementStore, DeferredLoadsOnManyThreadsKeepLookupsValid) {
    const std::filesystem::path dir = test::ScratchDir("element_store");
    phantom::PhantomOptions options;
    options.columns = options.rows = 16;
    options.slices = 1;
    options.scannerHeaders = true;
    std::string error;
    ASSERT_TRUE(phantom::WriteCtSeries(dir / "CT", options, &error)) << error;
    CDicomFile file;
    file.SetDeferredValues(true);
    ASSERT_EQ(ReadDicomFile(file, (dir / "CT" / "CT0001.dcm").string()), ReadStatus::Ok);

    std::vector<uint32_t> deferred;
    for (const CDicomElement* e = file.Root()->firstChild; e; e = e->nextSibling)
        if (!e->HasValue() && e->length > 0 && e->length <= 64) deferred.push_back(e->Tag());
    ASSERT_GT(deferred.size(), 100u);
    std::atomic<int> misses{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = static_cast<size_t>(t); i < deferred.size(); i += 2) {
                CDicomElement* element = file.FindElement(deferred[i]);
                if (element == nullptr || !file.EnsureLoaded(element)) ++misses;
                if (file.FindElement(deferred[deferred.size() - 1 - i]) == nullptr) ++misses;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(misses.load(), 0);
    for (uint32_t tag : deferred)
        EXPECT_TRUE(file.FindElement(tag)->HasValue());
}

}  // namespace
}  // namespace vexel
