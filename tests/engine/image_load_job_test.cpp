// The series load for one panel: start, one message per image with its first frame ready,
// end; multi-frame files decoded whole.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/image_load_job.h"
#include "engine/job_queue.h"
#include "engine/memory_services.h"
#include "engine/task_manager.h"
#include "engine/ui_dispatcher.h"
#include "engine_phantoms.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "platform/headless_event_loop.h"

namespace vexel {
namespace {

struct Received {
    const CDicomJob* job;
    JobMessageCode code;
    uint32_t index;
    bool firstFrameReady;
};

class CRecordingOwner final : public IJobOwner {
public:
    CRecordingOwner(CHeadlessEventLoop& loop, int jobs) : m_loop(loop), m_running(jobs) {}
    uint32_t OnJobMessage(CDicomJob& job, const JobMessage* message) override {
        if (message == nullptr) {
            if (--m_running == 0) m_loop.Quit();
            return 0;
        }
        bool ready = false;
        if (message->image != nullptr) {
            const CDicomFrame* first = message->image->Frame(0);
            ready = first != nullptr && first->HasBuffer();
        }
        received.push_back({&job, message->code, message->index, ready});
        return 0;
    }
    std::vector<Received> received;

private:
    CHeadlessEventLoop& m_loop;
    int m_running;
};

struct Harness {
    CSimulatedMemoryLoad load{10};
    CMemoryServices services{load, [] {
                                 MemoryServicesOptions options;
                                 options.manager.startMonitor = false;
                                 return options;
                             }()};
    CHeadlessEventLoop loop;
    CUIDispatcher dispatcher{loop};
    CTaskManager tasks;
    std::shared_ptr<CJobOwnerRegistry> registry = std::make_shared<CJobOwnerRegistry>();
};

TEST(ImageLoadJob, EveryImageArrivesWithItsFirstFrameThenTheEnd) {
    Harness h;
    auto paths = test::SmallCtSeries(12);
    paths.push_back(test::MultiFrameCt(6));
    CRecordingOwner owner(h.loop, 1);
    auto job = std::make_shared<CDicomImageLoadJob>(h.tasks, h.services.Manager(), paths, 2);
    job->SetOwner(h.registry, h.registry->Register(owner));
    CJobQueue queue(h.dispatcher, nullptr);
    ASSERT_TRUE(queue.Submit(job));
    h.loop.Run();

    ASSERT_EQ(owner.received.size(), paths.size() + 2);
    EXPECT_EQ(owner.received.front().code, JobMessageCode::ImageLoadStarted);
    EXPECT_EQ(owner.received.back().code, JobMessageCode::ImageLoadFinished);
    std::vector<bool> seen(paths.size() + 1, false);
    for (size_t i = 1; i + 1 < owner.received.size(); ++i) {
        EXPECT_EQ(owner.received[i].code, JobMessageCode::ImageLoaded);
        EXPECT_TRUE(owner.received[i].firstFrameReady);
        seen.at(owner.received[i].index) = true;
    }
    EXPECT_EQ(std::count(seen.begin() + 1, seen.end(), true), long(paths.size()));
    // The multi-frame file is decoded whole by the time the job ends.
    auto [file, status] = h.services.Manager().Open(paths.back());
    const CDicomImage& image = *CDicomImage::Of(*file);
    for (size_t i = 0; i < image.FrameCount(); ++i)
        EXPECT_TRUE(image.Frame(i)->HasBuffer()) << i;
    EXPECT_EQ(h.tasks.GetTaskPercent(job->TaskId()), -1) << "the task ended";
}

}  // namespace
}  // namespace vexel
