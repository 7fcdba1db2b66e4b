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
        SendMessage({JobMessageCode::ScanStarted});
        if (!ListEverything()) return CheckBetweenItems();
        SendMessage({JobMessageCode::ListingComplete});
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
        const uint32_t index = ++m_position;
        pool.Submit([this, record = std::move(record), index] { LoadOne(record, index); });
    }
    pool.WaitIdle();
    const JobState end = FinishRun();
    if (end == JobState::Finished) {
        Tasks().EndTask(TaskId());
        SendMessage({JobMessageCode::ScanFinished});
    }
    return end;
}

void CDicomScanAndLoadJob::LoadOne(const ScanFileRecord& record, uint32_t index) {
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
    // Only this question waits for the owner; what follows is posted, so a file nobody
    // asked to decode costs one round trip to the user-interface thread. The keys are read
    // here, so that the owner only files them.
    const StudyFileKeys keys = ReadStudyFileKeys(*file);
    JobMessage ask;
    ask.code = JobMessageCode::FileLoaded;
    ask.file = file.Get();
    ask.job = this;
    ask.keys = &keys;
    const uint32_t flags = SendMessage(ask).value_or(0);
    if (flags == 0) {
        message.code = JobMessageCode::FileNotTaken;
        PostMessage(message);
    } else if (Prepare(*file, flags)) {
        message.code = JobMessageCode::FilePrepared;
        message.file = file.Get();
        message.image = image;
        message.flags = flags;
        PostMessage(message, std::move(file));
    }
    CountProcessed();
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
