// The headless loop: what happens to tasks the loop never reached (where tasks run is
// covered by the dispatcher tests).
#include "platform/headless_event_loop.h"

#include <gtest/gtest.h>

#include <memory>

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

}  // namespace
}  // namespace vexel
