// Runs reformatting requests one at a time, first come first served, on a thread of its own
// with a pool for the heavy loops. Each finished slice, and at the end the request's outcome,
// is queued to the user-interface thread; the requester's handlers run there.
//
// A request holds a reference to every file of its volume until its build ends, so closing
// the panel or evicting files can never pull frames from under it. Cancel reaches a running
// build at its next source image or slice. Every request ends with exactly one completion:
// done, cancelled or failed (with the reason).
//
// Threads: Submit, Cancel and Shutdown on the user-interface thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/file_reference.h"
#include "engine/job_queue.h"
#include "engine/volume_record.h"
#include "volume/mpr_builder.h"

namespace vexel {

class CParallelThreadPool;
class CVexelEngine;
class IMemoryLoadSource;

// The block buffer's share of memory: a quarter of what is left below 80 % of the physical
// memory after this process's own, between 16 and 128 MB (128 MB when unknown). More buys
// little: a block only has to hold enough slices to use a few cache lines of each source row.
size_t MprBlockBudget(const IMemoryLoadSource& load);

struct MprEngineServices {
    // Queues a call on the UI thread; false when it could not be queued.
    std::function<bool(std::function<void()>)> postToUI;
    CVexelEngine* engine = nullptr;  // null: no shutdown hook (call Shutdown)
    PendingShutdownHooks pending;
    // The block buffer's budget for the next build; empty: the builder's default.
    std::function<size_t()> blockBytes;
    // Tests: passed to every build.
    std::function<void(size_t image)> beforeSourceImage;
    std::function<void*(size_t bytes)> allocate;
};

struct MprRequest {
    VolumeRecord volume;
    int32_t plane = 0;
    std::vector<CFileRef> files;  // one per image of the volume, taken on the UI thread
    std::function<void(MprSlice)> onSlice;
    std::function<void(MprOutcome, const std::string& error)> onEnd;
};

class CMPREngine {
public:
    explicit CMPREngine(MprEngineServices services);
    // Shuts down if needed and waits for the thread; queued requests end cancelled.
    ~CMPREngine();
    CMPREngine(const CMPREngine&) = delete;
    CMPREngine& operator=(const CMPREngine&) = delete;

    // The request's id (from 1), 0 when the engine has stopped.
    uint32_t Submit(MprRequest request);
    // Cancels a queued or running request; unknown ids are ignored.
    void Cancel(uint32_t requestId);
    // Stops the thread after the running build notices; later submits are refused.
    void Shutdown();

    bool Idle() const;

private:
    struct Entry {
        uint32_t id = 0;
        MprRequest request;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };

    static uint32_t OnShutdownHook(uint32_t eventCode, uint64_t payload, void* context);
    void WorkerLoop();
    void Run(Entry& entry);
    void Post(std::function<void()> call);

    MprEngineServices m_services;
    uint32_t m_shutdownCookie = 0;
    std::unique_ptr<CParallelThreadPool> m_pool;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Entry> m_queue;
    std::shared_ptr<std::atomic<bool>> m_runningCancel;
    uint32_t m_runningId = 0;
    uint32_t m_lastId = 0;
    bool m_stop = false;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

}  // namespace vexel
