// Task progress: per-task percentages, the shown task and the overall percentage, with
// figures worked by hand.
#include "engine/task_manager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexel {
namespace {

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

TEST(TaskOverallProgress, OneEndedAndOneAtAQuarterIsSixtyThree) {
    CTaskManager tasks;
    const int32_t ended = tasks.AddTask(0, "a");
    const int32_t running = tasks.AddTask(4, "b");
    tasks.SetTaskProgress(running, 1, 4);
    tasks.EndTask(ended);
    // (1 + 0.25) * 100 / 2 = 62.5, rounded half up
    EXPECT_EQ(tasks.GetOverallProgress().percent, 63);
}

struct Sample {
    int64_t second;  // since the task started
    uint32_t done;   // of 100
    int32_t percent;
    uint32_t elapsed;    // seconds
    uint32_t remaining;  // seconds
};

}  // namespace
}  // namespace vexel
