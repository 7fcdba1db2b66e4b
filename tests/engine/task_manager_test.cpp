// Task percentages, with totals whose done * 100 overflows 32 bits.
#include "engine/task_manager.h"

#include <gtest/gtest.h>

namespace vexel {
namespace {

TEST(TaskManager, PercentIsDoneTimesHundredOverTotalRoundedDown) {
    const struct {
        uint32_t done, total;
        int32_t percent;
    } cases[] = {
        {0, 7, 0}, {2, 3, 66}, {4, 4, 100}, {5, 0, -1}, {4'000'000'000u, 4'000'000'000u, 100}};
    for (const auto& c : cases) {
        CTaskManager tasks;
        const int32_t id = tasks.AddTask(c.total, "Reading images...");
        tasks.SetTaskProgress(id, c.done, c.total);
        EXPECT_EQ(tasks.GetTaskPercent(id), c.percent) << c.done << "/" << c.total;
    }
}

}  // namespace
}  // namespace vexel
