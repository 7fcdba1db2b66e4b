#include "engine/task_manager.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

namespace vexel {
namespace {

// Rates are sampled at most this often so that short bursts do not swing the estimate.
constexpr int64_t kSampleSeconds = 2;

int64_t SystemSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

// Rounds half up and keeps the result inside [0, limit].
uint32_t RoundClamped(double value, double limit) {
    if (!(value > 0.0)) return 0;
    return static_cast<uint32_t>(std::min(value + 0.5, limit));
}

}  // namespace

std::string ProgressTimeText(const OverallProgress& progress) {
    if (!progress.hasTime) return {};
    char text[96];
    std::snprintf(text, sizeof text, "%um %02us (%um %02us left)", progress.elapsedMinutes,
                  progress.elapsedSeconds, progress.remainingMinutes, progress.remainingSeconds);
    return text;
}

CTaskManager::CTaskManager() : CTaskManager(SystemSeconds) {}

CTaskManager::CTaskManager(Clock clock) : m_clock(clock ? std::move(clock) : SystemSeconds) {}

CTaskManager::~CTaskManager() = default;

int32_t CTaskManager::AddTask(uint32_t total, std::string_view description) {
    const int64_t now = m_clock();
    std::lock_guard lock(m_mutex);
    const int32_t id = ++m_lastId;
    m_tasks[id] = Task{0, total, now, 0, false, std::string(description)};
    m_currentId = id;
    m_shownId = id;
    ++m_activeCount;
    return id;
}

void CTaskManager::SetTaskProgress(int32_t id, uint32_t done, uint32_t total) {
    std::lock_guard lock(m_mutex);
    auto it = m_tasks.find(id);
    if (it == m_tasks.end()) return;
    it->second.done = done;
    it->second.total = total;
    m_currentId = id;
}

void CTaskManager::EndTask(int32_t id) {
    const int64_t now = m_clock();
    std::lock_guard lock(m_mutex);
    auto it = m_tasks.find(id);
    if (it == m_tasks.end() || it->second.ended) return;
    if (m_currentId == id) m_currentId = 0;
    it->second.endTime = now;
    it->second.ended = true;
    --m_activeCount;
    if (m_activeCount == 0) {
        m_tasks.clear();
        m_estimator = Estimator{};
        m_currentId = 0;
    }
    m_shownId = HighestRunningId();
}

int32_t CTaskManager::GetTaskPercent(int32_t id) const {
    std::lock_guard lock(m_mutex);
    auto it = m_tasks.find(id);
    if (it == m_tasks.end() || it->second.total == 0) return -1;
    // 64-bit: done * 100 overflows 32 bits from 42,949,673 files on.
    const uint64_t percent = uint64_t{it->second.done} * 100 / it->second.total;
    return static_cast<int32_t>(std::min<uint64_t>(percent, INT32_MAX));
}

std::optional<std::string> CTaskManager::GetShownTaskText() const {
    std::lock_guard lock(m_mutex);
    auto it = m_tasks.find(m_shownId);
    if (it == m_tasks.end()) return std::nullopt;
    return it->second.description;
}

OverallProgress CTaskManager::GetOverallProgress() {
    const int64_t now = m_clock();
    std::lock_guard lock(m_mutex);
    if (m_tasks.empty()) return OverallProgress{};
    const Totals totals = Sum(now);
    const float finished = static_cast<float>(totals.finished);
    const float running = static_cast<float>(totals.running);
    const bool partial = totals.progress != 0.0f;
    const float progress = partial ? totals.progress : finished;
    const float units = partial ? running : finished + running;
    if (progress == 0.0f) return OverallProgress{0};

    TakeSample(now, progress, units);
    UpdateRemaining(progress, units);
    OverallProgress result;
    const uint32_t elapsed = RoundClamped(static_cast<double>(now - totals.earliestStart), 4e9);
    result.hasTime = true;
    result.elapsedMinutes = elapsed / 60;
    result.elapsedSeconds = elapsed % 60;
    result.remainingMinutes = m_estimator.remainingMinutes;
    result.remainingSeconds = m_estimator.remainingSeconds;
    const float percent = (finished + totals.progress) * 100.0f / (finished + running);
    result.percent = static_cast<int32_t>(RoundClamped(percent, 100.0));
    return result;
}

int32_t CTaskManager::ShownTaskId() const {
    std::lock_guard lock(m_mutex);
    return m_shownId;
}

int32_t CTaskManager::CurrentTaskId() const {
    std::lock_guard lock(m_mutex);
    return m_currentId;
}

uint32_t CTaskManager::ActiveCount() const {
    std::lock_guard lock(m_mutex);
    return m_activeCount;
}

CTaskManager::Totals CTaskManager::Sum(int64_t now) const {
    Totals totals;
    totals.earliestStart = now;
    for (const auto& [id, task] : m_tasks) {
        if (task.ended) {
            ++totals.finished;
        } else {
            ++totals.running;
            if (task.total != 0)
                totals.progress += static_cast<float>(task.done) / static_cast<float>(task.total);
        }
        totals.earliestStart = std::min(totals.earliestStart, task.startTime);
    }
    return totals;
}

void CTaskManager::TakeSample(int64_t now, float progress, float units) {
    Estimator& e = m_estimator;
    if (e.lastSampleTime) {
        const int64_t seconds = now - *e.lastSampleTime;
        if (seconds < kSampleSeconds) return;
        const float rate =
            std::max(0.0f, (progress - e.lastProgress) / static_cast<float>(seconds));
        std::copy_backward(e.rates.begin(), e.rates.end() - 1, e.rates.end());
        e.rates[0] = rate;
        ++e.samples;
        const size_t used = std::min<size_t>(e.samples, e.rates.size());
        float sum = 0.0f;
        for (size_t i = 0; i < used; ++i)
            sum += e.rates[i];
        e.averageRate = sum / static_cast<float>(used);
    }
    e.lastSampleTime = now;
    e.lastProgress = progress;
    e.lastUnits = units;
}

void CTaskManager::UpdateRemaining(float progress, float units) {
    Estimator& e = m_estimator;
    if (!(e.averageRate > 0.0f)) return;
    // Progress beyond the total (done > total) leaves nothing to wait for, and a tiny rate
    // saturates instead of overflowing the conversion.
    const float seconds = (units - progress) / e.averageRate;
    const uint32_t remaining = RoundClamped(static_cast<double>(seconds), 4294967295.0);
    e.remainingMinutes = remaining / 60;
    e.remainingSeconds = remaining % 60;
}

int32_t CTaskManager::HighestRunningId() const {
    for (auto it = m_tasks.rbegin(); it != m_tasks.rend(); ++it)
        if (!it->second.ended) return it->first;
    return 0;
}

}  // namespace vexel
