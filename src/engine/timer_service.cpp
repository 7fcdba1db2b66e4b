#include "engine/timer_service.h"

#include <algorithm>
#include <new>
#include <utility>

namespace vexel {

namespace {

uint32_t SteadyMilliseconds() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

constexpr auto kIdBefore = [](const auto& record, uint64_t id) { return record.id < id; };

}  // namespace

CTimerService::CTimerService() : m_clock(SteadyMilliseconds) {}

CTimerService::CTimerService(Clock clock)
    : m_clock(clock ? std::move(clock) : Clock(SteadyMilliseconds)) {}

uint64_t CTimerService::AddTimer(uint32_t intervalMs, TimerCallback callback, uint32_t maxCount,
                                 void* context, uint32_t flags) {
    if (!callback) return 0;
    Record record;
    record.id = m_nextId++;
    record.maxCount = maxCount;
    record.intervalMs = intervalMs;
    record.flags = flags;
    record.context = context;
    record.callback = callback;
    const uint32_t now = m_clock();
    // Tick counts wrap, so "one interval ago" is plain modular arithmetic.
    record.lastTick = (flags & kTimerStartAtOnce) ? now - intervalMs : now;
    try {
        m_records.push_back(record);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return record.id;
}

std::vector<CTimerService::Record>::iterator CTimerService::Find(uint64_t id) {
    auto it = std::lower_bound(m_records.begin(), m_records.end(), id, kIdBefore);
    return it != m_records.end() && it->id == id ? it : m_records.end();
}

std::vector<CTimerService::Record>::iterator CTimerService::FindBefore(uint64_t bound) {
    auto it = std::lower_bound(m_records.begin(), m_records.end(), bound, kIdBefore);
    return it == m_records.begin() ? m_records.end() : std::prev(it);
}

bool CTimerService::IsActive(uint64_t id) const {
    auto it = std::lower_bound(m_records.begin(), m_records.end(), id, kIdBefore);
    return it != m_records.end() && it->id == id && it->active;
}

uint32_t CTimerService::RemoveTimer(uint64_t id) {
    auto it = Find(id);
    if (it == m_records.end()) return 0;
    const Record removed = *it;
    // Gone before the callback hears of it, so a callback that removes or adds timers
    // sees a consistent list and cannot remove the same timer twice.
    m_records.erase(it);
    removed.callback(removed.id, kTimerReasonRemoved, removed.context);
    return 1;
}

void CTimerService::Tick() {
    const uint32_t now = m_clock();
    // Walk by id, last added first, instead of by index: callbacks may change the list.
    uint64_t bound = m_nextId;
    for (auto it = FindBefore(bound); it != m_records.end(); it = FindBefore(bound)) {
        bound = it->id;
        TickOne(it->id, now);
    }
}

void CTimerService::TickOne(uint64_t id, uint32_t now) {
    auto it = Find(id);
    if (!it->active || now - it->lastTick < it->intervalMs) return;
    it->lastTick = now;
    const TimerCallback callback = it->callback;
    void* const context = it->context;
    callback(id, kTimerReasonTick, context);
    it = Find(id);  // the callback may have removed it or moved the list
    if (it == m_records.end()) return;
    ++it->fireCount;
    if (it->maxCount == 0 || it->fireCount != it->maxCount) return;
    it->active = false;
    if (it->flags & kTimerRemoveAtMaxCount) RemoveTimer(id);
}

}  // namespace vexel
