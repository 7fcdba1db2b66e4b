// The headless loop: where tasks run, and what happens to tasks the loop never reached.
#include "platform/headless_event_loop.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace vexel {
namespace {

TEST(HeadlessEventLoop, TasksLeftWhenTheLoopEndsAreDestroyedWithoutRunning) {
    CHeadlessEventLoop loop;
    auto state = std::make_shared<int>(0);
    loop.Quit();
    ASSERT_TRUE(loop.Post([state] { *state = 1; }));
    EXPECT_EQ(state.use_count(), 2);
    EXPECT_TRUE(loop.Run());
    EXPECT_TRUE(loop.HasEnded());
    EXPECT_EQ(*state, 0);
    EXPECT_EQ(state.use_count(), 1);
    EXPECT_FALSE(loop.Post([state] { *state = 2; }));
    EXPECT_EQ(state.use_count(), 1);
    EXPECT_FALSE(loop.Run());
}

TEST(HeadlessEventLoop, DestructionDropsQueuedTasks) {
    auto state = std::make_shared<int>(0);
    {
        CHeadlessEventLoop loop;
        ASSERT_TRUE(loop.Post([state] { *state = 1; }));
    }
    EXPECT_EQ(*state, 0);
    EXPECT_EQ(state.use_count(), 1);
}

TEST(HeadlessEventLoop, TasksFromOtherThreadsRunOnTheLoopThreadUntilQuit) {
    CHeadlessEventLoop loop;
    int ran = 0;
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) {
            loop.Post([&] {
                EXPECT_TRUE(loop.IsLoopThread());
                ++ran;  // only the loop thread touches it
            });
        }
        loop.Post([&] { loop.Quit(); });
    });
    EXPECT_TRUE(loop.Run());
    worker.join();
    EXPECT_EQ(ran, 100);
}

}  // namespace
}  // namespace vexel
