// Progress of the background tasks, for the status bar: per-task percentages, the overall
// percentage with elapsed and estimated remaining time, and the text of the task to show.
// Every operation may be called from any thread; the lock is a leaf lock.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace vexel {

struct OverallProgress {
    int32_t percent = 100;  // 0..100
    bool hasTime = false;   // false: show no time text
    uint32_t elapsedMinutes = 0;
    uint32_t elapsedSeconds = 0;
    uint32_t remainingMinutes = 0;
    uint32_t remainingSeconds = 0;
};

// "12m 05s (3m 40s left)"; the user-interface layer formats a translated text instead.
std::string ProgressTimeText(const OverallProgress& progress);

class CTaskManager {
public:
    // Seconds since 1970.
    using Clock = std::function<int64_t()>;

    CTaskManager();
    explicit CTaskManager(Clock clock);
    virtual ~CTaskManager();
    CTaskManager(const CTaskManager&) = delete;
    CTaskManager& operator=(const CTaskManager&) = delete;

    // The new task becomes the current and the shown task. Ids start at 1.
    int32_t AddTask(uint32_t total, std::string_view description);
    // Unknown ids are ignored.
    void SetTaskProgress(int32_t id, uint32_t done, uint32_t total);
    // Unknown and already ended ids are ignored. When the last running task ends, every
    // record and the estimator are cleared.
    void EndTask(int32_t id);
    // done * 100 / total, or -1 for an unknown task or a total of 0.
    int32_t GetTaskPercent(int32_t id) const;
    std::optional<std::string> GetShownTaskText() const;
    // 100 without time when no task exists; 0 without time before any progress.
    OverallProgress GetOverallProgress();

    int32_t ShownTaskId() const;
    int32_t CurrentTaskId() const;
    uint32_t ActiveCount() const;

private:
    struct Task {
        uint32_t done = 0;
        uint32_t total = 0;
        int64_t startTime = 0;
        int64_t endTime = 0;
        bool ended = false;
        std::string description;
    };
    struct Totals {
        uint32_t finished = 0;
        uint32_t running = 0;
        float progress = 0.0f;
        int64_t earliestStart = 0;
    };
    struct Estimator {
        std::optional<int64_t> lastSampleTime;
        float lastProgress = 0.0f;
        float lastUnits = 0.0f;
        std::array<float, 10> rates{};  // newest first
        uint32_t samples = 0;
        float averageRate = 0.0f;
        uint32_t remainingMinutes = 0;
        uint32_t remainingSeconds = 0;
    };

    Totals Sum(int64_t now) const;
    void TakeSample(int64_t now, float progress, float units);
    void UpdateRemaining(float progress, float units);
    int32_t HighestRunningId() const;

    Clock m_clock;
    mutable std::mutex m_mutex;
    std::map<int32_t, Task> m_tasks;
    int32_t m_lastId = 0;
    int32_t m_currentId = 0;
    int32_t m_shownId = 0;
    uint32_t m_activeCount = 0;
    Estimator m_estimator;
};

}  // namespace vexel
