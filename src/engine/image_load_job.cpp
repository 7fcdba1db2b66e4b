#include "engine/image_load_job.h"

#include <chrono>
#include <thread>

#include "engine/dicom_dir_name.h"
#include "engine/memory_manager.h"
#include "engine/task_manager.h"
#include "engine/thread_pool.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"

namespace vexel {

CDicomImageLoadJob::CDicomImageLoadJob(CTaskManager& tasks, CMemoryManager& files,
                                       std::vector<std::string> paths, uint32_t threadCount)
    : CDicomJob(tasks, "Reading images..."),
      m_registry(files),
      m_paths(std::move(paths)),
      m_threadCount(threadCount) {
    tasks.SetTaskProgress(TaskId(), 0, static_cast<uint32_t>(m_paths.size()));
}

JobState CDicomImageLoadJob::Run() {
    if (!BeginRun()) return JobState::Cancelled;
    CThreadPool pool(m_threadCount);
    PostMessage({JobMessageCode::ImageLoadStarted});
    while (m_next < m_paths.size()) {
        const JobState state = CheckBetweenItems();
        if (state != JobState::Running) {
            pool.WaitIdle();
            return state;
        }
        const size_t index = (m_start + m_next++) % m_paths.size();
        const std::string& path = m_paths[index];
        if (IsDicomDirPath(path)) continue;
        if (m_registry.IsMemoryLoadHigh()) {
            pool.WaitIdle();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        pool.Submit([this, &path, index] { LoadOne(path, static_cast<uint32_t>(index + 1)); });
    }
    pool.WaitIdle();
    const JobState end = FinishRun();
    if (end == JobState::Finished) {
        Tasks().EndTask(TaskId());
        PostMessage({JobMessageCode::ImageLoadFinished});
    }
    return end;
}

void CDicomImageLoadJob::LoadOne(const std::string& path, uint32_t index) {
    auto [file, status] = m_registry.Open(path);
    CDicomImage* image = file ? CDicomImage::Of(*file) : nullptr;
    if (image == nullptr || image->FrameCount() == 0) {
        CountProcessed();
        return;
    }
    image->DecodeFirstFrameIfIdle();
    CountProcessed();
    JobMessage message;
    message.code = JobMessageCode::ImageLoaded;
    message.file = file.Get();
    message.image = image;
    message.index = index;
    message.total = static_cast<uint32_t>(m_paths.size());
    message.job = this;
    // Posted, not sent: the owner's drawing of the image does not hold up the next file, nor
    // the scan this load was put in front of. The message keeps a reference of its own.
    m_registry.AddReference(file.Get());
    PostMessage(message, CFileRef(m_registry, file.Get()));
    if (image->FrameCount() >= 2) image->DecodeAllIdleFrames();
}

void CDicomImageLoadJob::CountProcessed() {
    const uint32_t processed = ++m_processed;
    Tasks().SetTaskProgress(TaskId(), processed, static_cast<uint32_t>(m_paths.size()));
}

}  // namespace vexel
