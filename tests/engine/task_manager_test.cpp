// Task progress: per-task percentages, the shown task, and the overall percentage with the
// time estimate, fed scripted samples on a fake clock. Expected figures are worked by hand.
#include "engine/task_manager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexel {
namespace {

struct FakeClock {
    std::shared_ptr<int64_t> now = std::make_shared<int64_t>(1'700'000'000);
    CTaskManager::Clock Get() const {
        return [now = now] { return *now; };
    }
    void Set(int64_t seconds) { *now = seconds; }
};

struct PercentCase {
    uint32_t done;
    uint32_t total;
    int32_t percent;
};

class TaskPercent : public ::testing::TestWithParam<PercentCase> {};

TEST_P(TaskPercent, IsDoneTimesHundredOverTotalRoundedDown) {
    const PercentCase& c = GetParam();
    CTaskManager tasks;
    const int32_t id = tasks.AddTask(c.total, "Reading images...");
    tasks.SetTaskProgress(id, c.done, c.total);
    EXPECT_EQ(tasks.GetTaskPercent(id), c.percent);
}

INSTANTIATE_TEST_SUITE_P(Cases, TaskPercent,
                         ::testing::Values(PercentCase{0, 7, 0}, PercentCase{1, 4, 25},
                                           PercentCase{1, 3, 33}, PercentCase{2, 3, 66},
                                           PercentCase{4, 4, 100}, PercentCase{0, 0, -1},
                                           PercentCase{5, 0, -1},
                                           // done * 100 does not fit 32 bits
                                           PercentCase{50'000'000, 100'000'000, 50},
                                           PercentCase{4'000'000'000u, 4'000'000'000u, 100}));

TEST(TaskManager, UnknownTasksAreIgnored) {
    CTaskManager tasks;
    EXPECT_EQ(tasks.GetTaskPercent(1), -1);
    tasks.SetTaskProgress(3, 1, 2);
    tasks.EndTask(3);
    EXPECT_EQ(tasks.ActiveCount(), 0u);
    EXPECT_FALSE(tasks.GetShownTaskText().has_value());
}

TEST(TaskManager, IdsStartAtOneAndTheNewestTaskIsShown) {
    CTaskManager tasks;
    const int32_t scan = tasks.AddTask(0, "Scanning folder...");
    EXPECT_EQ(scan, 1);
    const int32_t load = tasks.AddTask(0, "Reading images...");
    EXPECT_EQ(load, 2);
    EXPECT_EQ(tasks.GetShownTaskText(), "Reading images...");
    EXPECT_EQ(tasks.CurrentTaskId(), load);
    tasks.SetTaskProgress(scan, 1, 5);
    EXPECT_EQ(tasks.CurrentTaskId(), scan);
    EXPECT_EQ(tasks.GetShownTaskText(), "Reading images...");

    tasks.EndTask(load);
    EXPECT_EQ(tasks.GetShownTaskText(), "Scanning folder...");
    EXPECT_EQ(tasks.ActiveCount(), 1u);
    tasks.EndTask(load);  // twice: ignored
    EXPECT_EQ(tasks.ActiveCount(), 1u);
    EXPECT_EQ(tasks.GetTaskPercent(load), -1);  // ended, total 0

    tasks.EndTask(scan);
    EXPECT_EQ(tasks.ActiveCount(), 0u);
    EXPECT_EQ(tasks.ShownTaskId(), 0);
    EXPECT_EQ(tasks.CurrentTaskId(), 0);
    EXPECT_FALSE(tasks.GetShownTaskText().has_value());
    EXPECT_EQ(tasks.GetTaskPercent(scan), -1);  // every record went with the last task
    EXPECT_EQ(tasks.AddTask(0, "Next"), 3);     // ids keep counting
}

TEST(TaskManager, EndingAnOlderTaskKeepsShowingTheNewestRunningOne) {
    CTaskManager tasks;
    const int32_t a = tasks.AddTask(0, "a");
    const int32_t b = tasks.AddTask(0, "b");
    tasks.AddTask(0, "c");
    tasks.EndTask(3);
    EXPECT_EQ(tasks.ShownTaskId(), b);
    tasks.EndTask(a);
    EXPECT_EQ(tasks.ShownTaskId(), b);
}

TEST(TaskOverallProgress, NoTaskIsHundredWithoutTime) {
    CTaskManager tasks;
    const OverallProgress progress = tasks.GetOverallProgress();
    EXPECT_EQ(progress.percent, 100);
    EXPECT_FALSE(progress.hasTime);
    EXPECT_EQ(ProgressTimeText(progress), "");
}

TEST(TaskOverallProgress, NothingDoneIsZeroWithoutTime) {
    CTaskManager tasks;
    const int32_t id = tasks.AddTask(10, "a");
    tasks.SetTaskProgress(id, 0, 10);
    const OverallProgress progress = tasks.GetOverallProgress();
    EXPECT_EQ(progress.percent, 0);
    EXPECT_FALSE(progress.hasTime);
}

TEST(TaskOverallProgress, OneEndedAndOneAtAQuarterIsSixtyThree) {
    CTaskManager tasks;
    const int32_t ended = tasks.AddTask(0, "a");
    const int32_t running = tasks.AddTask(4, "b");
    tasks.SetTaskProgress(running, 1, 4);
    tasks.EndTask(ended);
    // (1 + 0.25) * 100 / 2 = 62.5, rounded half up
    EXPECT_EQ(tasks.GetOverallProgress().percent, 63);
}

TEST(TaskOverallProgress, TaskWithoutTotalCountsAsRunningWithoutProgress) {
    CTaskManager tasks;
    const int32_t ended = tasks.AddTask(0, "a");
    tasks.AddTask(0, "b");
    tasks.EndTask(ended);
    // no partial progress: progress = finished = 1 of 2 units
    const OverallProgress progress = tasks.GetOverallProgress();
    EXPECT_EQ(progress.percent, 50);
    EXPECT_TRUE(progress.hasTime);
}

TEST(TaskOverallProgress, DoneBeyondTotalIsCappedAtHundredAndLeavesNoTimeToWait) {
    FakeClock clock;
    CTaskManager tasks(clock.Get());
    const int32_t id = tasks.AddTask(4, "a");
    tasks.SetTaskProgress(id, 1, 4);
    tasks.GetOverallProgress();
    clock.Set(*clock.now + 2);
    tasks.SetTaskProgress(id, 9, 4);
    const OverallProgress progress = tasks.GetOverallProgress();
    EXPECT_EQ(progress.percent, 100);
    EXPECT_EQ(progress.remainingMinutes, 0u);
    EXPECT_EQ(progress.remainingSeconds, 0u);
}

struct Sample {
    int64_t second;  // since the task started
    uint32_t done;   // of 100
    int32_t percent;
    uint32_t elapsed;    // seconds
    uint32_t remaining;  // seconds
};

// One task of 100 items. Rates are sampled at most every 2 s and averaged over the samples
// taken (at most 10); remaining = (1 - progress) / average, rounded half up.
TEST(TaskOverallProgress, EstimatorFollowsScriptedSamples) {
    const std::vector<Sample> script{
        {0, 10, 10, 0, 0},     // first sample: no rate yet
        {1, 20, 20, 1, 0},     // under 2 s: no sample, nothing changes
        {4, 40, 40, 4, 8},     // rate (0.4 - 0.1) / 4 = 0.075; 0.6 / 0.075 = 8
        {10, 40, 40, 10, 16},  // rate 0; average 0.0375; 0.6 / 0.0375 = 16
        {70, 70, 70, 70, 11},  // rate 0.3 / 60 = 0.005; average 0.08 / 3; 0.3 / that = 11.25
        {80, 50, 50, 80, 25},  // going back counts as rate 0; average 0.02; 0.5 / 0.02 = 25
        {81, 90, 90, 81, 5},   // under 2 s: no sample, the kept average gives 0.1 / 0.02
    };
    FakeClock clock;
    const int64_t start = *clock.now;
    CTaskManager tasks(clock.Get());
    const int32_t id = tasks.AddTask(100, "Scanning folder...");
    for (const Sample& s : script) {
        clock.Set(start + s.second);
        tasks.SetTaskProgress(id, s.done, 100);
        const OverallProgress p = tasks.GetOverallProgress();
        EXPECT_EQ(p.percent, s.percent) << "at " << s.second << " s";
        EXPECT_TRUE(p.hasTime);
        EXPECT_EQ(p.elapsedMinutes * 60 + p.elapsedSeconds, s.elapsed) << "at " << s.second;
        EXPECT_LT(p.elapsedSeconds, 60u);
        EXPECT_EQ(p.remainingMinutes * 60 + p.remainingSeconds, s.remaining) << "at " << s.second;
        EXPECT_LT(p.remainingSeconds, 60u);
    }
}

TEST(TaskOverallProgress, OnlyTheLastTenRatesCount) {
    FakeClock clock;
    const int64_t start = *clock.now;
    CTaskManager tasks(clock.Get());
    const int32_t id = tasks.AddTask(1000, "a");
    auto sampleAt = [&](int64_t second, uint32_t done) {
        clock.Set(start + second);
        tasks.SetTaskProgress(id, done, 1000);
        const OverallProgress p = tasks.GetOverallProgress();
        return p.remainingMinutes * 60 + p.remainingSeconds;
    };
    sampleAt(0, 100);
    sampleAt(2, 300);  // rate 0.1 per second
    uint32_t remaining = 0;
    for (int k = 1; k <= 9; ++k)  // nine rates of 0.01 per second
        remaining = sampleAt(2 + 2 * k, 300 + 20 * static_cast<uint32_t>(k));
    // ten rates: (0.1 + 9 * 0.01) / 10 = 0.019; (1 - 0.48) / 0.019 = 27.4
    EXPECT_EQ(remaining, 27u);
    // the 0.1 falls out: average 0.01; (1 - 0.5) / 0.01 = 50
    EXPECT_EQ(sampleAt(22, 500), 50u);
}

TEST(TaskOverallProgress, EstimatorStartsOverWhenEveryTaskHasEnded) {
    FakeClock clock;
    const int64_t start = *clock.now;
    CTaskManager tasks(clock.Get());
    int32_t id = tasks.AddTask(100, "a");
    tasks.SetTaskProgress(id, 10, 100);
    tasks.GetOverallProgress();
    clock.Set(start + 10);
    tasks.SetTaskProgress(id, 60, 100);
    EXPECT_EQ(tasks.GetOverallProgress().remainingSeconds, 8u);  // 0.4 / 0.05
    tasks.EndTask(id);

    clock.Set(start + 100);
    id = tasks.AddTask(100, "b");
    tasks.SetTaskProgress(id, 50, 100);
    const OverallProgress p = tasks.GetOverallProgress();
    EXPECT_EQ(p.percent, 50);
    EXPECT_EQ(p.elapsedMinutes * 60 + p.elapsedSeconds, 0u);  // only the new task's start
    EXPECT_EQ(p.remainingMinutes * 60 + p.remainingSeconds, 0u);
}

TEST(TaskOverallProgress, TimeText) {
    OverallProgress p;
    p.hasTime = true;
    p.elapsedMinutes = 1;
    p.elapsedSeconds = 5;
    p.remainingMinutes = 12;
    p.remainingSeconds = 40;
    EXPECT_EQ(ProgressTimeText(p), "1m 05s (12m 40s left)");
}

}  // namespace
}  // namespace vexel
