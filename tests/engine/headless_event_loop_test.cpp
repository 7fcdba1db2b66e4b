// The headless loop: where tasks run, and what happens to tasks the loop never reached.
#include "platform/headless_event_loop.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace vexel {
namespace {

TEST(HeadlessEventLoop, TasksLeftWhenTheLoopEndsAreDestroyedWithoutRunning) {
    auto state = std::make_shared<int>(0);
    {
        CHeadlessEventLoop loop;
        loop.Quit();
        ASSERT_TRUE(loop.Post([state] { *state = 1; }));
        EXPECT_TRUE(loop.Run());
        EXPECT_EQ(state.use_count(), 1);
        EXPECT_FALSE(loop.Post([state] { *state = 2; }));
        EXPECT_FALSE(loop.Run());
        CHeadlessEventLoop destroyed;
        ASSERT_TRUE(destroyed.Post([state] { *state = 3; }));
    }
    EXPECT_EQ(*state, 0);
    EXPECT_EQ(state.use_count(), 1);
}

TEST(HeadlessEventLoop, TasksFromOtherThreadsRunOnTheLoopThreadUntilQuit) {
    CHeadlessEventLoop loop;
    int ran = 0;
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i)
            loop.Post([&] { ran += loop.IsLoopThread(); });
        loop.Post([&] { loop.Quit(); });
    });
    EXPECT_TRUE(loop.Run());
    worker.join();
    EXPECT_EQ(ran, 100);
}

}  // namespace
}  // namespace vexel
