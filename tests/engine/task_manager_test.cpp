// Task progress: percentages (with totals whose done * 100 overflows 32 bits), the shown
// task and the end of every record with the last task.
#include "engine/task_manager.h"

#include <gtest/gtest.h>

namespace vexel {
namespace {

TEST(TaskManager, PercentIsDoneTimesHundredOverTotalRoundedDown) {
    const struct {
        uint32_t done, total;
        int32_t percent;
    } cases[] = {{0, 7, 0},
                 {1, 3, 33},
                 {2, 3, 66},
                 {4, 4, 100},
                 {0, 0, -1},
                 {5, 0, -1},
                 {50'000'000, 100'000'000, 50},
                 {4'000'000'000u, 4'000'000'000u, 100}};
    for (const auto& c : cases) {
        CTaskManager tasks;
        const int32_t id = tasks.AddTask(c.total, "Reading images...");
        tasks.SetTaskProgress(id, c.done, c.total);
        EXPECT_EQ(tasks.GetTaskPercent(id), c.percent) << c.done << "/" << c.total;
    }
}

TEST(TaskManager, TheNewestTaskIsShownAndRecordsGoWithTheLast) {
    CTaskManager tasks;
    const int32_t scan = tasks.AddTask(0, "Scanning folder...");
    const int32_t load = tasks.AddTask(4, "Reading images...");
    EXPECT_EQ(tasks.GetShownTaskText(), "Reading images...");
    tasks.SetTaskProgress(load, 1, 4);
    tasks.SetTaskProgress(scan, 1, 5);
    EXPECT_EQ(tasks.CurrentTaskId(), scan);
    EXPECT_EQ(tasks.GetShownTaskText(), "Reading images...");
    tasks.EndTask(scan);
    EXPECT_EQ(tasks.GetOverallProgress().percent, 63);  // (1 + 0.25) / 2, rounded half up
    EXPECT_EQ(tasks.GetShownTaskText(), "Reading images...");
    tasks.EndTask(scan);  // twice: ignored
    EXPECT_EQ(tasks.ActiveCount(), 1u);
    tasks.EndTask(load);
    EXPECT_EQ(tasks.ActiveCount(), 0u);
    EXPECT_EQ(tasks.ShownTaskId(), 0);
    EXPECT_FALSE(tasks.GetShownTaskText().has_value());
    EXPECT_EQ(tasks.GetTaskPercent(load), -1);
    EXPECT_EQ(tasks.AddTask(0, "Next"), 3);  // ids keep counting
}

}  // namespace
}  // namespace vexel
