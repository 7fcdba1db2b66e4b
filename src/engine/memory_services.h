// The memory side of the core, built and torn down in one order: release queue, disk cache
// (when given a folder), memory cache, then the memory manager; the frames find the queue
// and the disk cache through InstallPixelCaches while these live.
#pragma once

#include <filesystem>
#include <memory>

#include "engine/memory_manager.h"
#include "imaging/binary_value_cacher.h"
#include "imaging/binary_value_mem_cacher.h"
#include "imaging/releasable_object_queue.h"
#include "platform/memory_load.h"

namespace vexel {

struct MemoryServicesOptions {
    std::filesystem::path cacheRoot;  // empty: no disk cache
    DiskCacheLimits diskLimits;
    MemoryManagerOptions manager;
};

class CMemoryServices {
public:
    // The load source must outlive the services.
    explicit CMemoryServices(const IMemoryLoadSource& load, MemoryServicesOptions options = {});
    // Files first (their frames leave the queue and the disk cache), then the caches.
    ~CMemoryServices();
    CMemoryServices(const CMemoryServices&) = delete;
    CMemoryServices& operator=(const CMemoryServices&) = delete;

    CMemoryManager& Manager() { return *m_manager; }
    CReleasableObjectQueue& ReleaseQueue() { return m_releaseQueue; }
    CBinaryValueCacher* DiskCache() { return m_diskCache.get(); }
    CBinaryValueMemCacher& MemoryCache() { return m_memoryCache; }

private:
    CReleasableObjectQueue m_releaseQueue;
    std::unique_ptr<CBinaryValueCacher> m_diskCache;
    CBinaryValueMemCacher m_memoryCache;
    std::unique_ptr<CMemoryManager> m_manager;
};

}  // namespace vexel
