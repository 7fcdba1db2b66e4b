// The release queue's walk: oldest first, objects in use skipped unless forced, a stop after
// a round without progress, and released objects out of the queue until they hold memory.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/releasable_object_queue.h"

namespace vexel {
namespace {

class Holding final : public CReleasableObject {
public:
    Holding(CReleasableObjectQueue& queue, int64_t bytes, std::vector<int>* log, int name)
        : m_log(log), m_name(name) {
        SetResidentSize(bytes);
        EnterReleaseQueue(&queue);
    }
    ~Holding() override { LeaveReleaseQueue(); }
    bool Release() override {
        m_log->push_back(m_name);
        return !pinned;
    }
    bool IsInUse() const override { return inUse; }

    bool inUse = false;
    bool pinned = false;  // has users: cannot let go

private:
    std::vector<int>* m_log;
    int m_name;
};

TEST(ReleasableObjectQueue, PassReleasesOldestFirstUpToTheTarget) {
    CReleasableObjectQueue queue;
    std::vector<int> log;
    Holding a(queue, 100, &log, 1), b(queue, 100, &log, 2), c(queue, 100, &log, 3);
    EXPECT_EQ(queue.ReleasePass(false, 150), 200u);
    EXPECT_EQ(log, (std::vector<int>{1, 2}));
    EXPECT_EQ(a.ResidentSize(), 0);
    EXPECT_EQ(queue.Count(), 1u) << "released objects stay out";
}

TEST(ReleasableObjectQueue, ObjectsInUseAreKeptUnlessForcedAndPinnedOnesAlways) {
    CReleasableObjectQueue queue;
    std::vector<int> log;
    Holding a(queue, 100, &log, 1), b(queue, 100, &log, 2), c(queue, 100, &log, 3);
    a.inUse = true;
    c.pinned = true;
    // b goes; a is skipped, c refuses: one round without progress ends the pass.
    EXPECT_EQ(queue.ReleasePass(false, 1000), 100u);
    EXPECT_EQ(log, (std::vector<int>{2, 3}));
    EXPECT_EQ(queue.Count(), 2u);
    log.clear();
    EXPECT_EQ(queue.ReleasePass(true, 1000), 100u);
    EXPECT_EQ(log, (std::vector<int>{3, 1, 3}));  // c is tried again after progress
    EXPECT_EQ(queue.Count(), 1u);
    EXPECT_EQ(queue.PopFront(), &c);
}

}  // namespace
}  // namespace vexel
