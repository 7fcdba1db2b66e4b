// The registry of open files and the keeper of memory.
//
// Files are opened by path through the registry: one parse per path however many threads
// ask at once, shared by reference count. A file nobody references stays parsed on the
// unused list, so reopening it is a lookup; under memory pressure the oldest unused files
// are evicted and destroyed on the deleter thread. A monitor thread polls the memory load
// and releases decoded frames (oldest first) as it rises past 70, 75 and 85 %; a refused
// allocation triggers an emergency release.
//
// Lock order: registry lock, then a path lock (taken only after the registry lock is left),
// then the deletion lock or the release queue's lock. Release passes only try structure
// locks, and a thread that holds one hands its emergency release to the release worker.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "engine/file_reference.h"
#include "platform/memory_load.h"

namespace vexel {

class CReleasableObjectQueue;
class CBinaryValueMemCacher;

struct MemoryManagerOptions {
    std::chrono::milliseconds monitorPeriod{100};
    std::chrono::milliseconds deleterPeriod{100};
    bool startMonitor = true;  // tests drive PollMemoryLoad themselves
    // Refused allocations: attempts after the emergency release, and the pause between them.
    uint32_t allocationRetries = 200;
    std::chrono::milliseconds retryPause{50};
    // How long a thread holding a structure lock waits for the release worker.
    std::chrono::milliseconds workerWait{2000};
    // Called on the opening thread before every open; tests use it to make storage slow.
    std::function<void(const std::string& path)> beforeOpen;
};

class CMemoryManager {
public:
    // The queue, the memory cache and the load source must outlive the manager. Installs the
    // emergency release as the allocation failure handler (one manager at a time).
    CMemoryManager(CReleasableObjectQueue& releaseQueue, CBinaryValueMemCacher* memoryCache,
                   const IMemoryLoadSource& load, MemoryManagerOptions options = {});
    // Destroys every file still registered or queued; references must be gone by then.
    ~CMemoryManager();
    CMemoryManager(const CMemoryManager&) = delete;
    CMemoryManager& operator=(const CMemoryManager&) = delete;

    // Opens path through the registry: the registered file with one more reference, or a new
    // parse (deferred values, image prepared) registered with reference count 1.
    struct OpenResult {
        CFileRef file;
        ReadStatus status = ReadStatus::Ok;
    };
    OpenResult Open(const std::string& path);

    // The protocol's steps, for callers that build files themselves.
    void AcquirePathLock(const std::string& path);
    void ReleasePathLock(const std::string& path);
    CDicomFile* FindAndReference(const std::string& path);
    // Takes the file; false (and the file destroyed) when its path is taken or on stop.
    bool RegisterObject(std::unique_ptr<CDicomFile> file);
    void AddReference(CDicomFile* file);
    // At zero the file joins the unused list, in the same step.
    void ReleaseReference(CDicomFile* file);
    // Destroys the file at once when it is registered and unreferenced.
    bool DiscardIfUnused(const std::string& path);
    // True when nothing of path stays registered: its unreferenced file was destroyed, or
    // there was none. Its bytes on disk may then go.
    bool ForgetIfUnused(const std::string& path);

    bool IsMemoryLoadHigh() const;      // load >= 80 %
    bool IsMemoryLoadCritical() const;  // load > 85 %
    void ReleaseMemoryNow();
    // One step of the monitor thread.
    void PollMemoryLoad();
    void OnMemoryPressure(bool at70, bool at75, bool at85);
    void EmergencyRelease();

    size_t RegisteredCount() const;
    size_t UnusedCount() const;
    bool PressureMode() const;
    // Blocks until the deletion queue is empty and no deletion runs.
    void WaitForDeletions();

private:
    struct RegistryEntry {
        std::unique_ptr<CDicomFile> file;
        std::list<CDicomFile*>::iterator unused;
        bool isUnused = false;
    };
    struct PathLock {
        std::mutex mutex;
        uint32_t users = 0;
    };

    static bool OnAllocationFailure(uint32_t attempt);
    uint32_t CurrentLoad() const;
    void RunEmergencyRelease();
    uint64_t ReleasePassMB(bool forced, uint64_t targetMB);
    void EvictUnusedLocked(size_t count);
    void LeaveUnusedLocked(RegistryEntry& entry);
    void MonitorLoop();
    void DeleterLoop();
    void ReleaseWorkerLoop();
    bool RequestWorkerRelease();
    void DeleteQueuedFiles();

    CReleasableObjectQueue& m_releaseQueue;
    CBinaryValueMemCacher* m_memoryCache;
    const IMemoryLoadSource& m_load;
    MemoryManagerOptions m_options;

    mutable std::recursive_mutex m_registryLock;
    std::unordered_map<std::string, RegistryEntry> m_registry;
    std::list<CDicomFile*> m_unused;
    std::map<std::string, std::unique_ptr<PathLock>> m_pathLocks;
    bool m_pressureMode = false;
    std::atomic<bool> m_stop{false};
    std::atomic<uint32_t> m_lastLoad{0};  // the monitor's last reading

    std::mutex m_deletionLock;
    std::condition_variable m_deletionWake;
    std::condition_variable m_deletionIdle;
    std::vector<std::unique_ptr<CDicomFile>> m_deletionQueue;
    bool m_deleting = false;

    std::mutex m_workerLock;
    std::condition_variable m_workerWake;
    std::condition_variable m_workerDone;
    uint64_t m_workerRequested = 0;
    uint64_t m_workerCompleted = 0;

    std::mutex m_monitorLock;
    std::condition_variable m_monitorWake;

    std::thread m_monitor;
    std::thread m_deleter;
    std::thread m_releaseWorker;
};

}  // namespace vexel
