// The job that brings what the user opened into the program: it lists every file below the
// folders (explicit files first, then the first file of every folder, then the rest), opens
// each through the registry on a pool of threads, and asks its owner, file by file, whether
// to keep it and how much of it to decode now. The question does not hold up its worker:
// the answered files are decoded and reported by whichever worker is free next, so the
// owner's thread answering late never leaves the pool idle.
//
// The job holds a file's reference while it works on it or waits for the owner's answer; an
// owner that keeps the file takes a reference of its own. Files that cannot be opened, are not
// images or are DICOMDIRs are skipped and counted, never stop the scan.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "engine/dicom_job.h"
#include "engine/folder_lister.h"

namespace vexel {

class CMemoryManager;
class CDicomFile;
class CThreadPool;

// Answer flags to JobMessageCode::FileLoaded.
inline constexpr uint32_t kDecodeAllFrames = 1;    // the series is on screen
inline constexpr uint32_t kDecodeFirstFrame = 2;   // the series got a new thumbnail
inline constexpr uint32_t kDecodeOpticalDisc = 4;  // read everything while the disc is in

class CDicomScanAndLoadJob : public CDicomJob {
public:
    // threadCount 0: one per logical processor.
    CDicomScanAndLoadJob(CTaskManager& tasks, CMemoryManager& files, uint32_t threadCount = 0)
        : CDicomScanAndLoadJob(tasks, files, threadCount, "Scanning folder...") {}

    // Filled by the creator before submission.
    void AddFolder(std::string folder) { m_folders.push_back(std::move(folder)); }
    void AddFile(std::string path) { m_files.push_back(std::move(path)); }
    // The folder part of path loads first when the job resumes.
    void SetPriorityFolder(std::string_view path);

    JobState Run() override;
    // False for jobs that read an archive.
    virtual bool IsArchiveJob() const { return false; }

    // Counts for the end of the scan (any thread).
    uint32_t Total() const { return m_total; }
    uint32_t Processed() const { return m_processed; }
    uint32_t LoadedCount() const;
    // Files that could not be opened, were not images or were DICOMDIRs.
    uint32_t SkippedFiles() const { return m_skippedFiles; }
    // Folder entries that were neither files nor folders we could enter.
    uint32_t SkippedEntries() const { return m_skippedEntries; }
    // Paths of the files loaded so far, in load order.
    std::vector<std::string> LoadedPaths() const;

protected:
    CDicomScanAndLoadJob(CTaskManager& tasks, CMemoryManager& files, uint32_t threadCount,
                         std::string_view taskText);
    // The per-file work of the pool: reports the answered files first, then opens the
    // file, skips it or asks the owner about it.
    void LoadOne(const ScanFileRecord& record, uint32_t index);
    // Waits until at most limit files wait for their answer or their report, having the
    // pool report the answered ones meanwhile: before each new file, and with limit 0 once
    // the pool has asked about the last. False when the job must stop with state (the pool
    // is idle then).
    bool DrainAnswers(CThreadPool& pool, uint32_t limit, JobState& state);
    // Files in flight before the next one waits: enough to keep every worker busy while the
    // owner's thread draws (a first image holds it for milliseconds), few enough to bound
    // what they hold (their headers: large values are read when used).
    static constexpr uint32_t kAnswersInFlightPerThread = 32;
    // One more item done (a file, or an archive entry that yields none).
    void CountProcessed();

    CMemoryManager& m_registry;
    uint32_t m_threadCount;
    bool m_scanned = false;   // the first run's listing is done
    uint32_t m_position = 0;  // items handed out so far, kept across a pause
    std::atomic<uint32_t> m_total{0};

private:
    bool ListEverything();
    void PutPriorityFolderFirst();
    bool Prepare(CDicomFile& file, uint32_t flags);

    // A file the owner answered about, to decode as asked and report.
    struct AnsweredFile {
        CFileRef file;
        uint32_t flags = 0;
        JobMessage report;
    };
    void TakeAnswer(uint32_t flags, CFileRef file, const JobMessage& report);
    // Decodes the answered files as asked and reports them (FilePrepared or FileNotTaken).
    void ReportAnswered();

    std::vector<std::string> m_folders;
    std::vector<std::string> m_files;
    std::string m_priorityFolder;  // guarded by m_loadedLock
    std::deque<ScanFileRecord> m_pending;
    std::atomic<uint32_t> m_processed{0};
    std::atomic<uint32_t> m_skippedFiles{0};
    std::atomic<uint32_t> m_skippedEntries{0};
    mutable std::mutex m_loadedLock;
    std::vector<std::string> m_loaded;
    std::mutex m_answerLock;
    std::condition_variable m_answered;
    std::deque<AnsweredFile> m_answers;  // guarded by m_answerLock
    uint32_t m_unanswered = 0;           // guarded by m_answerLock
};

}  // namespace vexel
