#include "engine/memory_services.h"

#include "imaging/pixel_caches.h"

namespace vexel {

CMemoryServices::CMemoryServices(const IMemoryLoadSource& load, MemoryServicesOptions options)
    : m_diskCache(options.cacheRoot.empty() ? nullptr
                                            : std::make_unique<CBinaryValueCacher>(
                                                  options.cacheRoot, options.diskLimits)),
      m_memoryCache([this] { return m_manager && m_manager->IsMemoryLoadCritical(); }, &load),
      m_manager(
          std::make_unique<CMemoryManager>(m_releaseQueue, &m_memoryCache, load, options.manager)) {
    InstallPixelCaches({&m_releaseQueue, m_diskCache.get()});
}

CMemoryServices::~CMemoryServices() {
    m_manager.reset();
    InstallPixelCaches({});
}

}  // namespace vexel
