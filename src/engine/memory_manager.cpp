#include "engine/memory_manager.h"

#include <malloc.h>

#include "dicom/structure_lock.h"
#include "engine/worker_thread.h"
#include "imaging/binary_value_mem_cacher.h"
#include "imaging/releasable_object_queue.h"
#include "platform/checked_alloc.h"

namespace vexel {
namespace {

constexpr uint64_t kMiB = 1ull << 20;

std::atomic<CMemoryManager*> g_manager{nullptr};
// Set while this thread runs a release: an allocation failing inside it must not start
// another one.
thread_local bool t_releasing = false;

class ReleasingScope {
public:
    ReleasingScope() { t_releasing = true; }
    ~ReleasingScope() { t_releasing = false; }
    ReleasingScope(const ReleasingScope&) = delete;
    ReleasingScope& operator=(const ReleasingScope&) = delete;
};

}  // namespace

CMemoryManager::CMemoryManager(CReleasableObjectQueue& releaseQueue,
                               CBinaryValueMemCacher* memoryCache, const IMemoryLoadSource& load,
                               MemoryManagerOptions options)
    : m_releaseQueue(releaseQueue), m_memoryCache(memoryCache), m_load(load), m_options(options) {
    if (const auto status = m_load.Read()) m_lastLoad = status->loadPercent;
    if (m_options.startMonitor) {
        if (auto thread = CreateWorkerThread([this] { MonitorLoop(); }))
            m_monitor = std::move(*thread);
    }
    if (auto thread = CreateWorkerThread([this] { DeleterLoop(); })) m_deleter = std::move(*thread);
    if (auto thread = CreateWorkerThread([this] { ReleaseWorkerLoop(); })) {
        m_releaseWorker = std::move(*thread);
    }
    g_manager = this;
    SetAllocationFailureHandler(&CMemoryManager::OnAllocationFailure);
}

CMemoryManager::~CMemoryManager() {
    CMemoryManager* self = this;
    if (g_manager.compare_exchange_strong(self, nullptr)) SetAllocationFailureHandler(nullptr);
    std::unordered_map<std::string, RegistryEntry> remaining;
    {
        std::lock_guard registry(m_registryLock);
        m_stop = true;
        m_unused.clear();
        remaining.swap(m_registry);
    }
    remaining.clear();
    {
        std::lock_guard lock(m_monitorLock);
        m_monitorWake.notify_all();
    }
    if (m_monitor.joinable()) m_monitor.join();
    {
        std::lock_guard lock(m_workerLock);
        m_workerWake.notify_all();
        m_workerDone.notify_all();
    }
    if (m_releaseWorker.joinable()) m_releaseWorker.join();
    {
        std::lock_guard lock(m_deletionLock);
        m_deletionWake.notify_all();
    }
    if (m_deleter.joinable()) m_deleter.join();
    DeleteQueuedFiles();
}

uint32_t CMemoryManager::CurrentLoad() const {
    // Loaders ask for every file: the monitor's last reading spares a read of the counters.
    if (m_monitor.joinable()) return m_lastLoad.load(std::memory_order_relaxed);
    const auto status = m_load.Read();
    return status ? status->loadPercent : 0;
}

bool CMemoryManager::IsMemoryLoadHigh() const {
    return CurrentLoad() >= 80;
}

bool CMemoryManager::IsMemoryLoadCritical() const {
    return CurrentLoad() > 85;
}

bool CMemoryManager::PressureMode() const {
    std::lock_guard registry(m_registryLock);
    return m_pressureMode;
}

uint64_t CMemoryManager::ReleasePassMB(bool forced, uint64_t targetMB) {
    return m_releaseQueue.ReleasePass(forced, targetMB * kMiB) / kMiB;
}

void CMemoryManager::PollMemoryLoad() {
    const auto status = m_load.Read();
    if (!status) return;
    const uint32_t load = status->loadPercent;
    m_lastLoad.store(load, std::memory_order_relaxed);
    if (load < 70) {
        std::lock_guard registry(m_registryLock);
        m_pressureMode = false;
        return;
    }
    OnMemoryPressure(true, load >= 75, load >= 85);
}

void CMemoryManager::OnMemoryPressure(bool /*at70*/, bool at75, bool at85) {
    std::lock_guard registry(m_registryLock);
    if (m_stop) return;
    ReleasingScope releasing;
    if (!at75 && !m_pressureMode) {
        ReleasePassMB(false, 32);
        return;
    }
    m_pressureMode = true;
    const uint64_t released = ReleasePassMB(false, 32);
    if (released < 32) EvictUnusedLocked(at85 ? 500 : 50);
    if (!at85 && (!m_unused.empty() || released >= 64)) return;
    if (ReleasePassMB(true, 32) > 0) return;
    if (m_memoryCache) m_memoryCache->Free(32);
}

void CMemoryManager::RunEmergencyRelease() {
    std::lock_guard registry(m_registryLock);
    if (m_stop) return;
    ReleasingScope releasing;
    m_pressureMode = true;
    if (ReleasePassMB(false, 1024) < 1024) EvictUnusedLocked(100000);
    ReleasePassMB(true, 1024);
    if (m_memoryCache) m_memoryCache->Free(1024);
}

void CMemoryManager::EmergencyRelease() {
    if (t_releasing) return;
    // A thread inside a file's structure lock must not walk other files' frames itself (it
    // would hold one structure lock while trying others); the worker does it instead and
    // skips the busy file.
    if (CStructureLock::HeldByThisThread() > 0) {
        RequestWorkerRelease();
        return;
    }
    RunEmergencyRelease();
}

void CMemoryManager::ReleaseMemoryNow() {
    std::lock_guard registry(m_registryLock);
    if (m_stop) return;
    ReleasingScope releasing;
    ReleasePassMB(true, 2048);
    EvictUnusedLocked(100000);
    if (m_memoryCache) m_memoryCache->Free(1024);
}

bool CMemoryManager::OnAllocationFailure(uint32_t attempt) {
    CMemoryManager* manager = g_manager.load();
    if (manager == nullptr || manager->m_stop || t_releasing) return false;
    if (attempt == 0) {
        manager->EmergencyRelease();
        return true;
    }
    if (attempt > manager->m_options.allocationRetries) return false;
    {
        // A deletion burst is about to free memory: wait for it.
        std::unique_lock lock(manager->m_deletionLock);
        manager->m_deletionIdle.wait_for(lock, std::chrono::milliseconds(1000),
                                         [manager] { return !manager->m_deleting; });
    }
    malloc_trim(0);
    std::this_thread::sleep_for(manager->m_options.retryPause);
    return true;
}

bool CMemoryManager::RequestWorkerRelease() {
    if (!m_releaseWorker.joinable()) return false;
    std::unique_lock lock(m_workerLock);
    const uint64_t ticket = ++m_workerRequested;
    m_workerWake.notify_one();
    return m_workerDone.wait_for(lock, m_options.workerWait,
                                 [&] { return m_workerCompleted >= ticket || m_stop; });
}

void CMemoryManager::ReleaseWorkerLoop() {
    std::unique_lock lock(m_workerLock);
    while (true) {
        m_workerWake.wait(lock, [&] { return m_stop || m_workerCompleted < m_workerRequested; });
        if (m_stop) return;
        const uint64_t serving = m_workerRequested;
        lock.unlock();
        RunEmergencyRelease();
        lock.lock();
        m_workerCompleted = serving;
        m_workerDone.notify_all();
    }
}

void CMemoryManager::MonitorLoop() {
    std::unique_lock lock(m_monitorLock);
    while (!m_monitorWake.wait_for(lock, m_options.monitorPeriod, [&] { return m_stop.load(); })) {
        lock.unlock();
        PollMemoryLoad();
        lock.lock();
    }
}

void CMemoryManager::DeleteQueuedFiles() {
    std::unique_lock lock(m_deletionLock);
    if (m_deletionQueue.empty()) return;
    m_deleting = true;
    std::vector<std::unique_ptr<CDicomFile>> batch;
    batch.swap(m_deletionQueue);
    lock.unlock();
    batch.clear();  // front first: vector destroys in order
    lock.lock();
    m_deleting = false;
    m_deletionIdle.notify_all();
}

void CMemoryManager::DeleterLoop() {
    std::unique_lock lock(m_deletionLock);
    while (!m_stop) {
        m_deletionWake.wait_for(lock, m_options.deleterPeriod,
                                [&] { return m_stop || !m_deletionQueue.empty(); });
        lock.unlock();
        DeleteQueuedFiles();
        lock.lock();
    }
}

void CMemoryManager::WaitForDeletions() {
    std::unique_lock lock(m_deletionLock);
    m_deletionWake.notify_one();
    m_deletionIdle.wait(lock, [&] { return m_deletionQueue.empty() && !m_deleting; });
}

}  // namespace vexel
