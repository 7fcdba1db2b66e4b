#include "imaging/pixel_caches.h"

#include <atomic>

namespace vexel {
namespace {

std::atomic<CReleasableObjectQueue*> g_releaseQueue{nullptr};
std::atomic<CBinaryValueCacher*> g_diskCache{nullptr};

}  // namespace

void InstallPixelCaches(PixelCaches caches) {
    g_releaseQueue = caches.releaseQueue;
    g_diskCache = caches.diskCache;
}

PixelCaches InstalledPixelCaches() {
    return {g_releaseQueue.load(), g_diskCache.load()};
}

}  // namespace vexel
