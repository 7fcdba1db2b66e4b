#include "app/scan_controller.h"

#include <filesystem>

#include <QWidget>

#include "app/message_wnd_manager.h"
#include "app/dicom_thumb_box.h"
#include "engine/job_queue.h"
#include "engine/scan_and_load_job.h"
#include "engine/thread_pool.h"
#include "engine/study_model.h"
#include "engine/zip_load_job.h"
#include "support/language_manager.h"

namespace vexel {
namespace {

constexpr uint32_t kNoImagesText = 1101;     // "No DICOM images found"
constexpr uint32_t kScanAnotherText = 1102;  // "Would you like to scan another folder ..."
constexpr uint32_t kModuleMissingText = 7013;
constexpr uint32_t kUnreadableText = 7014;
constexpr uint32_t kEncryptedText = 7015;
constexpr uint32_t kDamagedText = 7016;
constexpr uint32_t kDiskFullText = 7017;
constexpr uint32_t kLimitText = 7018;

// The text with its "%d" replaced by the count (no printf: the text may be a translation).
std::string WithCount(uint32_t id, uint32_t count) {
    std::string text = GetString(id);
    const size_t at = text.find("%d");
    if (at != std::string::npos) text.replace(at, 2, std::to_string(count));
    return text;
}

// What went wrong with an archive, one line each; empty when nothing did.
std::string ArchiveProblemText(const ArchiveProblems& problems) {
    std::string text;
    const auto add = [&](const std::string& line) { text += (text.empty() ? "" : "\n") + line; };
    if (problems.moduleMissing) add(GetString(kModuleMissingText));
    if (problems.unreadable) add(GetString(kUnreadableText));
    if (problems.encrypted > 0) add(WithCount(kEncryptedText, problems.encrypted));
    if (problems.damaged > 0) add(WithCount(kDamagedText, problems.damaged));
    if (problems.diskFull) add(GetString(kDiskFullText));
    if (problems.limitReached) add(GetString(kLimitText));
    return text;
}

}  // namespace

CScanController::CScanController(ScanServices services, CDicomThumbBox& thumbs, QWidget* window)
    : m_services(services), m_thumbs(thumbs), m_window(window) {
    m_ownerId = m_registry->Register(*this);
}

CScanController::~CScanController() {
    // Messages still on their way find no owner.
    m_registry->Unregister(m_ownerId);
    if (m_scan) m_scan->Cancel();
}

int32_t CScanController::ScanTaskId() const {
    return m_scan ? m_scan->TaskId() : 0;
}

bool CScanController::StartScan(std::vector<std::string> folders, std::vector<std::string> files,
                                bool opticalDisc) {
    if (m_scan || !m_services.queue || !m_services.tasks || !m_services.files) return false;
    if (folders.empty() && files.empty()) return false;
    // Twice the processors: each file waits for this thread's answer, and while some workers
    // wait the others keep the processors busy.
    auto job = std::make_shared<CDicomScanAndLoadJob>(
        *m_services.tasks, *m_services.files, 2 * CThreadPool::LogicalProcessorCount());
    for (auto& folder : folders)
        job->AddFolder(std::move(folder));
    for (auto& file : files)
        job->AddFile(std::move(file));
    return Submit(std::move(job), opticalDisc);
}

bool CScanController::StartArchive(std::string path) {
    if (m_scan || !m_services.queue || !m_services.tasks || !m_services.files ||
        !m_services.zip || !m_services.cache || path.empty()) {
        return false;
    }
    return Submit(std::make_shared<CZIPLoadJob>(*m_services.tasks, *m_services.files,
                                                *m_services.zip, *m_services.cache,
                                                std::move(path),
                                                2 * CThreadPool::LogicalProcessorCount()),
                  false);
}

bool CScanController::Submit(std::shared_ptr<CDicomScanAndLoadJob> job, bool opticalDisc) {
    job->SetOwner(m_registry, m_ownerId);
    if (!m_services.queue->Submit(job)) return false;
    m_scan = std::move(job);
    m_opticalDisc = opticalDisc;
    return true;
}

uint32_t CScanController::OnJobMessage(CDicomJob& job, const JobMessage* message) {
    if (message == nullptr) {
        if (&job != m_scan.get()) return 0;
        m_scan.reset();
        if (onIdle) onIdle();
        return 0;
    }
    switch (message->code) {
        case JobMessageCode::ScanStarted:
            m_pending.clear();
            return 0;
        case JobMessageCode::FileLoaded:
            return message->file ? OnFileLoaded(*message->file, message->keys.get()) : 0;
        case JobMessageCode::FilePrepared:
            OnFilePrepared(*message);
            return 0;
        case JobMessageCode::ScanFinished:
            m_pending.clear();
            OnScanFinished();
            return 0;
        default:
            return 0;
    }
}

uint32_t CScanController::OnFileLoaded(CDicomFile& file, const StudyFileKeys* keys) {
    const AddFileResult result = keys ? m_thumbs.AddFile(*keys) : m_thumbs.AddFile(file);
    if (result.status != AddFileStatus::Added) return 0;
    const bool created = result.seriesPlacement.created;
    Pending pending{result.series, {}, created};
    if (m_targets != nullptr) pending.panels = m_targets->PanelsFor(result.series, created);
    uint32_t flags = 0;
    if (!pending.panels.empty()) flags |= kDecodeAllFrames;
    // A new series gets its first image ready for its thumbnail.
    if (created) flags |= kDecodeFirstFrame;
    if (m_opticalDisc) flags |= kDecodeOpticalDisc;
    if (flags != 0) m_pending[&file] = std::move(pending);
    return flags;
}

void CScanController::OnFilePrepared(const JobMessage& message) {
    if (message.file == nullptr || message.image == nullptr) return;
    const auto it = m_pending.find(message.file);
    if (it == m_pending.end()) return;
    const Pending pending = std::move(it->second);
    m_pending.erase(it);
    if (m_targets == nullptr) return;
    if (pending.thumbnail) m_targets->ThumbnailReady(pending.series, *message.file, *message.image);
    for (const PanelLoad& panel : pending.panels)
        m_targets->Deliver(panel, pending.series, *message.file, *message.image);
}

void CScanController::PreferFolder(const std::string& folder) {
    if (m_scan && !folder.empty()) m_scan->SetPriorityFolder(folder);
}

void CScanController::OnScanFinished() {
    const uint32_t loaded = m_scan ? m_scan->LoadedCount() : 0;
    const uint32_t skipped = m_scan ? m_scan->SkippedFiles() + m_scan->SkippedEntries() : 0;
    if (onScanFinished) onScanFinished(loaded, skipped);
    if (m_services.messages == nullptr) return;
    // An archive says what kept its files out, whether or not some were loaded.
    const auto* archive = dynamic_cast<const CZIPLoadJob*>(m_scan.get());
    const std::string problems = archive ? ArchiveProblemText(archive->Problems()) : "";
    if (!problems.empty()) {
        const std::string heading =
            loaded == 0 ? GetString(kNoImagesText)
                        : std::filesystem::path(archive->ArchivePath()).filename().string();
        m_services.messages->ShowMessage(heading, problems, m_window, MessageKind::Notice);
        return;
    }
    if (loaded > 0) return;
    m_services.messages->ShowMessage(GetString(kNoImagesText), GetString(kScanAnotherText),
                                     m_window, MessageKind::Question, 0,
                                     [this, alive = std::weak_ptr<bool>(m_alive)](int result) {
                                         if (result == 1 && alive.lock() && onScanAnother)
                                             onScanAnother();
                                     });
}

}  // namespace vexel
