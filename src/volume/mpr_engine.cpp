#include "volume/mpr_engine.h"

#include <algorithm>

#include "engine/parallel_thread_pool.h"
#include "engine/system_hooks.h"
#include "engine/vexel_engine.h"
#include "engine/worker_thread.h"
#include "platform/memory_load.h"

namespace vexel {

size_t MprBlockBudget(const IMemoryLoadSource& load) {
    constexpr uint64_t kMB = 1 << 20;
    const std::optional<MemoryStatus> status = load.Read();
    if (!status || status->totalBytes == 0) return 128 * kMB;
    const uint64_t usable = status->totalBytes / 5 * 4;
    const uint64_t free =
        usable > status->processResidentBytes ? usable - status->processResidentBytes : 0;
    return size_t(std::clamp<uint64_t>(free / 4, 16 * kMB, 128 * kMB));
}

CMPREngine::CMPREngine(MprEngineServices services) : m_services(std::move(services)) {
    if (m_services.engine != nullptr)
        m_shutdownCookie = m_services.engine->Subscribe(kApplicationHookName, OnShutdownHook, this);
    m_pool = std::make_unique<CParallelThreadPool>();
    if (m_services.pending.countIn) m_services.pending.countIn();
    auto thread = CreateWorkerThread([this] { WorkerLoop(); });
    if (thread) {
        m_thread = std::move(*thread);
    } else {
        m_stop = true;
        if (m_services.pending.countOut) m_services.pending.countOut();
    }
}

CMPREngine::~CMPREngine() {
    Shutdown();
    if (m_thread.joinable()) m_thread.join();
    if (m_services.engine != nullptr && m_shutdownCookie != 0)
        m_services.engine->Unsubscribe(m_shutdownCookie);
}

uint32_t CMPREngine::OnShutdownHook(uint32_t eventCode, uint64_t, void* context) {
    if (eventCode == EventCode(ApplicationEvent::Shutdown))
        static_cast<CMPREngine*>(context)->Shutdown();
    return 0;
}

uint32_t CMPREngine::Submit(MprRequest request) {
    std::lock_guard lock(m_mutex);
    if (m_stop) return 0;
    if (++m_lastId == 0) m_lastId = 1;
    m_queue.push_back({m_lastId, std::move(request), std::make_shared<std::atomic<bool>>(false)});
    m_wake.notify_one();
    return m_lastId;
}

void CMPREngine::Cancel(uint32_t requestId) {
    std::lock_guard lock(m_mutex);
    if (requestId != 0 && requestId == m_runningId && m_runningCancel) *m_runningCancel = true;
    for (Entry& entry : m_queue)
        if (entry.id == requestId) *entry.cancelled = true;
}

void CMPREngine::Shutdown() {
    std::lock_guard lock(m_mutex);
    m_stop = true;
    m_stopping = true;
    m_wake.notify_one();
}

bool CMPREngine::Idle() const {
    std::lock_guard lock(m_mutex);
    return m_queue.empty() && m_runningId == 0;
}

void CMPREngine::Post(std::function<void()> call) {
    // A call that cannot be queued is dropped, and with it what it holds.
    if (m_services.postToUI) m_services.postToUI(std::move(call));
}

void CMPREngine::WorkerLoop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_stop) break;
        Entry entry = std::move(m_queue.front());
        m_queue.pop_front();
        m_runningId = entry.id;
        m_runningCancel = entry.cancelled;
        lock.unlock();
        Run(entry);
        entry = {};  // the volume's files go back before the next build
        lock.lock();
        m_runningId = 0;
        m_runningCancel.reset();
    }
    // Requests that never ran still end, so their tasks do not stay open.
    std::deque<Entry> left = std::move(m_queue);
    lock.unlock();
    for (Entry& entry : left)
        if (entry.request.onEnd)
            Post([end = std::move(entry.request.onEnd)] { end(MprOutcome::Cancelled, {}); });
    left.clear();
    if (m_services.pending.countOut) m_services.pending.countOut();
}

void CMPREngine::Run(Entry& entry) {
    MprBuildOptions options;
    if (m_services.blockBytes) options.blockBytes = m_services.blockBytes();
    options.pool = m_pool.get();
    options.cancelled = [this, cancelled = entry.cancelled] {
        return cancelled->load() || m_stopping.load();
    };
    options.beforeSourceImage = m_services.beforeSourceImage;
    options.allocate = m_services.allocate;
    options.deliver = [&](MprSlice slice) {
        if (!entry.request.onSlice) return;
        // std::function needs a copyable call: the slice travels in a shared holder.
        auto held = std::make_shared<MprSlice>(std::move(slice));
        Post([handler = entry.request.onSlice, held] { handler(std::move(*held)); });
    };
    std::string error;
    MprOutcome outcome = MprOutcome::Cancelled;
    if (!entry.cancelled->load() && !m_stopping.load())
        outcome = BuildMpr(entry.request.volume, entry.request.plane, options, &error);
    if (entry.request.onEnd)
        Post([end = std::move(entry.request.onEnd), outcome, error] { end(outcome, error); });
}

}  // namespace vexel
