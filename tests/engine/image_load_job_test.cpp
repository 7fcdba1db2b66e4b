// The series load for one panel: start, one message per image with its first frame ready,
// end; multi-frame files decoded whole.
#include <gtest/gtest.h>

#include <memory>
#include <set>

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

// Records "code index ready" for each message; the end notice ends the loop.
class CRecordingOwner final : public IJobOwner {
public:
    explicit CRecordingOwner(CHeadlessEventLoop& loop) : m_loop(loop) {}
    uint32_t OnJobMessage(CDicomJob&, const JobMessage* message) override {
        if (message == nullptr) {
            m_loop.Quit();
            return 0;
        }
        const CDicomFrame* first = message->image ? message->image->Frame(0) : nullptr;
        codes.push_back(message->code);
        if (message->code == JobMessageCode::ImageLoaded && first && first->HasBuffer())
            readyIndices.insert(message->index);
        return 0;
    }
    std::vector<JobMessageCode> codes;
    std::set<uint32_t> readyIndices;

private:
    CHeadlessEventLoop& m_loop;
};

TEST(ImageLoadJob, EveryImageArrivesWithItsFirstFrameThenTheEnd) {
    CSimulatedMemoryLoad load{10};
    CMemoryServices services{load, test::QuietOptions()};
    CHeadlessEventLoop loop;
    CUIDispatcher dispatcher{loop};
    CTaskManager tasks;
    auto registry = std::make_shared<CJobOwnerRegistry>();
    auto paths = test::SmallCtSeries(12);
    paths.push_back(test::MultiFrameCt(6));
    CRecordingOwner owner(loop);
    auto job = std::make_shared<CDicomImageLoadJob>(tasks, services.Manager(), paths, 2);
    job->SetOwner(registry, registry->Register(owner));
    CJobQueue queue(dispatcher, nullptr);
    ASSERT_TRUE(queue.Submit(job));
    loop.Run();

    std::vector<JobMessageCode> expected(paths.size() + 2, JobMessageCode::ImageLoaded);
    expected.front() = JobMessageCode::ImageLoadStarted;
    expected.back() = JobMessageCode::ImageLoadFinished;
    EXPECT_EQ(owner.codes, expected);
    EXPECT_EQ(owner.readyIndices.size(), paths.size());
    EXPECT_EQ(*owner.readyIndices.begin(), 1u);
    EXPECT_EQ(*owner.readyIndices.rbegin(), paths.size());
    // The multi-frame file is decoded whole by the time the job ends.
    auto [file, status] = services.Manager().Open(paths.back());
    const CDicomImage& image = *CDicomImage::Of(*file);
    for (size_t i = 0; i < image.FrameCount(); ++i)
        EXPECT_TRUE(image.Frame(i)->HasBuffer()) << i;
}

}  // namespace
}  // namespace vexel
