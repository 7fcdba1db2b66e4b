#include "engine/scan_and_load_job.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/dicom_dir_name.h"
#include "engine/memory_manager.h"
#include "engine/study_model_keys.h"
#include "engine/task_manager.h"
#include "engine/thread_pool.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"

namespace vexel {
namespace {

constexpr uint32_t kDirectoryRecordSequence = 0x00041220;

}  // namespace

CDicomScanAndLoadJob::CDicomScanAndLoadJob(CTaskManager& tasks, CMemoryManager& files,
                                           uint32_t threadCount, std::string_view taskText)
    : CDicomJob(tasks, taskText), m_registry(files), m_threadCount(threadCount) {}

void CDicomScanAndLoadJob::SetPriorityFolder(std::string_view path) {
    const size_t slash = path.rfind('/');
    std::lock_guard lock(m_loadedLock);
    m_priorityFolder =
        slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

uint32_t CDicomScanAndLoadJob::LoadedCount() const {
    std::lock_guard lock(m_loadedLock);
    return static_cast<uint32_t>(m_loaded.size());
}

std::vector<std::string> CDicomScanAndLoadJob::LoadedPaths() const {
    std::lock_guard lock(m_loadedLock);
    return m_loaded;
}

bool CDicomScanAndLoadJob::ListEverything() {
    for (const std::string& path : m_files)
        m_pending.push_back({{}, {}, path});
    FolderListing listing;
    const auto cancelled = [this] { return State() == JobState::CancelRequested; };
    for (const std::string& folder : m_folders) {
        if (!ListFolder(folder, listing, cancelled)) return false;
    }
    m_skippedEntries += listing.skippedEntries;
    for (auto* list : {&listing.firstFiles, &listing.otherFiles}) {
        std::move(list->begin(), list->end(), std::back_inserter(m_pending));
    }
    m_total = static_cast<uint32_t>(m_pending.size());
    return true;
}

void CDicomScanAndLoadJob::PutPriorityFolderFirst() {
    std::string folder;
    {
        std::lock_guard lock(m_loadedLock);
        folder = m_priorityFolder;
    }
    if (folder.empty()) return;
    std::stable_partition(m_pending.begin(), m_pending.end(),
                          [&](const ScanFileRecord& record) { return record.folder == folder; });
}

JobState CDicomScanAndLoadJob::Run() {
    if (!BeginRun()) return JobState::Cancelled;
    CThreadPool pool(m_threadCount);
    if (!m_scanned) {
        PostMessage({JobMessageCode::ScanStarted});
        if (!ListEverything()) return CheckBetweenItems();
        PostMessage({JobMessageCode::ListingComplete});
        m_scanned = true;
    } else {
        PutPriorityFolderFirst();
    }
    while (!m_pending.empty()) {
        const JobState state = CheckBetweenItems();
        if (state != JobState::Running) {
            pool.WaitIdle();
            return state;
        }
        ScanFileRecord record = std::move(m_pending.front());
        m_pending.pop_front();
        if (IsDicomDirPath(record.path)) {
            ++m_skippedFiles;
            CountProcessed();
            continue;
        }
        // Let the memory just released be used by the files in flight before new ones start.
        if (m_registry.IsMemoryLoadHigh()) {
            pool.WaitIdle();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        JobState stop = JobState::Running;
        if (!DrainAnswers(pool, kAnswersInFlightPerThread * pool.ThreadCount(), stop)) {
            m_pending.push_front(std::move(record));
            return stop;
        }
        const uint32_t index = ++m_position;
        pool.Submit([this, record = std::move(record), index] { LoadOne(record, index); });
    }
    pool.WaitIdle();  // every question is asked
    JobState stop = JobState::Running;
    if (!DrainAnswers(pool, 0, stop)) return stop;
    pool.WaitIdle();
    const JobState end = FinishRun();
    if (end == JobState::Finished) {
        Tasks().EndTask(TaskId());
        PostMessage({JobMessageCode::ScanFinished});
    }
    return end;
}

void CDicomScanAndLoadJob::LoadOne(const ScanFileRecord& record, uint32_t index) {
    ReportAnswered();  // their files are in memory already
    JobMessage message;
    message.index = index;
    message.total = m_total;
    message.job = this;
    auto [file, status] = m_registry.Open(record.path);
    CDicomImage* image = file ? CDicomImage::Of(*file) : nullptr;
    const bool usable = image != nullptr && image->FrameCount() > 0 &&
                        file->FindElement(kDirectoryRecordSequence) == nullptr;
    if (!usable) {
        ++m_skippedFiles;
        file.Reset();
        message.code = JobMessageCode::FileNotLoaded;
        message.loadedCount = LoadedCount();
        PostMessage(message);
        CountProcessed();
        return;
    }
    {
        std::lock_guard lock(m_loadedLock);
        m_loaded.push_back(record.path);
        message.loadedCount = static_cast<uint32_t>(m_loaded.size());
    }
    // The keys are read here, so that the owner only files them.
    JobMessage ask;
    ask.code = JobMessageCode::FileLoaded;
    ask.file = file.Get();
    ask.job = this;
    ask.keys = std::make_shared<const StudyFileKeys>(ReadStudyFileKeys(*file));
    {
        std::lock_guard lock(m_answerLock);
        ++m_unanswered;
    }
    const std::weak_ptr<CDicomJob> self = weak_from_this();
    const bool asked =
        AskOwner(ask, std::move(file), [self, message](uint32_t flags, CFileRef held) {
            if (const std::shared_ptr<CDicomJob> job = self.lock())
                static_cast<CDicomScanAndLoadJob&>(*job).TakeAnswer(flags, std::move(held),
                                                                    message);
        });
    if (!asked) TakeAnswer(0, {}, message);
}

void CDicomScanAndLoadJob::TakeAnswer(uint32_t flags, CFileRef file, const JobMessage& report) {
    {
        std::lock_guard lock(m_answerLock);
        --m_unanswered;
        m_answers.push_back({std::move(file), flags, report});
    }
    m_answered.notify_one();  // Run's thread, the only one that waits
}

void CDicomScanAndLoadJob::ReportAnswered() {
    bool reported = false;
    for (;; reported = true) {
        AnsweredFile answered;
        {
            std::lock_guard lock(m_answerLock);
            if (m_answers.empty()) break;
            answered = std::move(m_answers.front());
            m_answers.pop_front();
        }
        JobMessage& message = answered.report;
        if (answered.flags == 0 || !answered.file) {
            message.code = JobMessageCode::FileNotTaken;
            PostMessage(message);
        } else if (Prepare(*answered.file, answered.flags)) {
            message.code = JobMessageCode::FilePrepared;
            message.file = answered.file.Get();
            message.image = CDicomImage::Of(*answered.file);
            message.flags = answered.flags;
            PostMessage(message, std::move(answered.file));
        }
        CountProcessed();
    }
    if (reported) m_answered.notify_one();  // the room it made
}

bool CDicomScanAndLoadJob::DrainAnswers(CThreadPool& pool, uint32_t limit, JobState& state) {
    // Answers come from another thread, cancels and pauses from a third: look at both often.
    constexpr auto kPoll = std::chrono::milliseconds(2);
    for (;;) {
        bool report = false;
        {
            std::unique_lock lock(m_answerLock);
            const auto settled = [&] { return m_unanswered + m_answers.size() <= limit; };
            if (settled()) return true;
            m_answered.wait_for(lock, kPoll, [&] { return settled() || !m_answers.empty(); });
            if (settled()) return true;
            report = !m_answers.empty();
        }
        state = CheckBetweenItems();
        if (state != JobState::Running) {
            pool.WaitIdle();
            return false;
        }
        if (report) pool.Submit([this] { ReportAnswered(); });
    }
}

bool CDicomScanAndLoadJob::Prepare(CDicomFile& file, uint32_t flags) {
    CDicomImage& image = *CDicomImage::Of(file);
    if (flags & (kDecodeAllFrames | kDecodeOpticalDisc)) return image.DecodeAllIdleFrames() > 0;
    image.DecodeFirstFrameIfIdle();
    const CDicomFrame* first = image.Frame(0);
    return first != nullptr && (first->HasBuffer() || first->CacheId() != 0);
}

void CDicomScanAndLoadJob::CountProcessed() {
    const uint32_t processed = ++m_processed;
    Tasks().SetTaskProgress(TaskId(), processed, m_total);
}

}  // namespace vexel
