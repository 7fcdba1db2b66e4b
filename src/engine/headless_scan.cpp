#include "engine/headless_scan.h"

#include <memory>

#include "engine/job_queue.h"
#include "engine/scan_and_load_job.h"
#include "engine/study_model.h"
#include "engine/task_manager.h"
#include "engine/ui_dispatcher.h"
#include "platform/headless_event_loop.h"

namespace vexel {
namespace {

using Clock = std::chrono::steady_clock;

class CModelOwner final : public IJobOwner {
public:
    CModelOwner(StudyModel& model, CHeadlessEventLoop& loop, const HeadlessScanRequest& request)
        : m_model(model), m_loop(loop), m_request(request) {}

    uint32_t OnJobMessage(CDicomJob& job, const JobMessage* message) override {
        auto& scan = static_cast<CDicomScanAndLoadJob&>(job);
        if (message == nullptr) {
            m_ended = true;
            m_loop.Quit();
            return 0;
        }
        if (m_request.onMessage) m_request.onMessage(scan, static_cast<uint32_t>(message->code));
        if (message->code == JobMessageCode::FileLoaded && message->file != nullptr) {
            // The worker has read the file's keys already.
            const AddFileResult result = message->keys ? m_model.AddFile(*message->keys)
                                                       : m_model.AddFile(*message->file);
            if (result.seriesPlacement.created && m_firstSeries.count() < 0) {
                m_firstSeries =
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start);
            }
        }
        if (message->code == JobMessageCode::ScanFinished) m_finished = true;
        // Nothing is shown, so nothing is decoded.
        return 0;
    }

    const Clock::time_point m_start = Clock::now();
    std::chrono::milliseconds m_firstSeries{-1};
    bool m_finished = false;
    bool m_ended = false;

private:
    StudyModel& m_model;
    CHeadlessEventLoop& m_loop;
    const HeadlessScanRequest& m_request;
};

}  // namespace

HeadlessScanSummary RunHeadlessScan(CMemoryManager& files, StudyModel& model,
                                    const HeadlessScanRequest& request) {
    CHeadlessEventLoop loop;
    CUIDispatcher dispatcher(loop);
    CTaskManager tasks;
    auto registry = std::make_shared<CJobOwnerRegistry>();
    CModelOwner owner(model, loop, request);
    const uint64_t ownerId = registry->Register(owner);
    HeadlessScanSummary summary;
    std::shared_ptr<CDicomScanAndLoadJob> job;
    if (!request.archive.empty()) {
        if (request.zip == nullptr || request.cache == nullptr) return summary;
        job = std::make_shared<CZIPLoadJob>(tasks, files, *request.zip, *request.cache,
                                            request.archive, request.threads,
                                            request.archiveLimits);
    } else {
        job = std::make_shared<CDicomScanAndLoadJob>(tasks, files, request.threads);
        for (const auto& folder : request.folders)
            job->AddFolder(folder);
        for (const auto& file : request.files)
            job->AddFile(file);
    }
    job->SetOwner(registry, ownerId);
    {
        CJobQueue queue(dispatcher, nullptr);
        if (!queue.Submit(job)) return summary;
        if (request.progress) {
            loop.SetTick(request.progressPeriod,
                         [&] { request.progress(job->Processed(), job->Total()); });
        }
        loop.Run();
        queue.Shutdown();
    }
    summary.total = job->Total();
    summary.loaded = job->LoadedCount();
    summary.skippedFiles = job->SkippedFiles();
    summary.skippedEntries = job->SkippedEntries();
    summary.duplicates = model.DuplicateCount();
    if (const auto* archive = dynamic_cast<const CZIPLoadJob*>(job.get()))
        summary.archiveProblems = archive->Problems();
    summary.finished = owner.m_finished;
    summary.firstSeriesAfter = owner.m_firstSeries;
    summary.elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - owner.m_start);
    return summary;
}

}  // namespace vexel
