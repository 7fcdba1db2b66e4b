#include "engine/zip_load_job.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "engine/task_manager.h"
#include "engine/thread_pool.h"
#include "engine/zip_archive.h"
#include "engine/zip_engine.h"
#include "imaging/binary_value_cacher.h"

namespace vexel {
namespace {

void RemoveQuietly(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::remove(path, error);
}

}  // namespace

CZIPLoadJob::CZIPLoadJob(CTaskManager& tasks, CMemoryManager& files, CZIPEngine& zip,
                         CBinaryValueCacher& cache, std::string archivePath,
                         uint32_t threadCount, ArchiveLimits limits)
    : CDicomScanAndLoadJob(tasks, files, threadCount, "Reading ZIP file..."),
      m_zip(zip),
      m_cache(cache),
      m_archivePath(std::move(archivePath)),
      m_limits(limits) {}

ArchiveProblems CZIPLoadJob::Problems() const {
    std::lock_guard lock(m_problemsLock);
    return m_problems;
}

void CZIPLoadJob::Record(const std::function<void(ArchiveProblems&)>& change) {
    std::lock_guard lock(m_problemsLock);
    change(m_problems);
}

JobState CZIPLoadJob::Run() {
    if (!BeginRun()) return JobState::Cancelled;
    CThreadPool pool(m_threadCount);
    if (!m_scanned) {
        PostMessage({JobMessageCode::ScanStarted});
        m_scanned = true;
    }
    JobState state = JobState::Running;
    CZipArchive archive;
    uint64_t count = 0;
    std::error_code error;
    if (!m_zip.EnsureLoaded()) {
        Record([](ArchiveProblems& p) { p.moduleMissing = true; });
    } else if (!std::filesystem::is_regular_file(m_archivePath, error) ||
               !(archive = m_zip.OpenArchive(m_archivePath)) || !archive.EntryCount(count)) {
        // Only a regular file: reading a FIFO or a device would never end.
        Record([](ArchiveProblems& p) { p.unreadable = true; });
    } else {
        if (count > m_limits.maxEntries) {
            Record([](ArchiveProblems& p) { p.limitReached = true; });
            count = m_limits.maxEntries;
        }
        m_total = uint32_t(count);
        // Entries passed before a pause are stepped over again.
        bool walkable = true;
        for (uint32_t skipped = 0; walkable && skipped < m_position; ++skipped)
            walkable = archive.Next() == VEXEL_ZIP_OK;
        for (uint32_t index = m_position; walkable && index < count; ++index) {
            state = CheckBetweenItems();
            if (state != JobState::Running) break;
            const EntryResult result = ExtractEntry(archive, pool, index);
            if (result == EntryResult::Paused || result == EntryResult::Cancelled) {
                // The entry is copied again from its start when the job resumes.
                m_position = index;
                state = CheckBetweenItems();
                break;
            }
            m_position = index + 1;
            if (result == EntryResult::StopJob) break;
            if (result == EntryResult::Skipped) CountProcessed();
            walkable = archive.Next() == VEXEL_ZIP_OK;
        }
    }
    archive = CZipArchive();
    pool.WaitIdle();  // every question is asked
    if (state == JobState::Running && DrainAnswers(pool, 0, state)) pool.WaitIdle();
    if (state != JobState::Running) return state;
    const JobState end = FinishRun();
    if (end == JobState::Finished) {
        Tasks().EndTask(TaskId());
        PostMessage({JobMessageCode::ScanFinished});
    }
    return end;
}

CZIPLoadJob::EntryResult CZIPLoadJob::ExtractEntry(CZipArchive& archive, CThreadPool& pool,
                                                   uint32_t index) {
    std::string name;
    VexelZipEntryInfo info{};
    if (archive.CurrentEntry(name, info) != VEXEL_ZIP_OK) {
        Record([](ArchiveProblems& p) { ++p.damaged; });
        return EntryResult::Skipped;
    }
    // Folders and links make nothing: only the bytes of regular entries are ever written. An
    // empty entry cannot hold an image, so it makes no file either.
    if (info.directory || info.symbolicLink || name.empty() || name.back() == '/' ||
        info.uncompressedSize == 0) {
        return EntryResult::Skipped;
    }
    if (info.encrypted) {
        Record([](ArchiveProblems& p) { ++p.encrypted; });
        return EntryResult::Skipped;
    }
    // The budget: what is left of the bytes allowed, never more than the volume can spare.
    const uint64_t allowed = m_limits.maxBytes - std::min(m_limits.maxBytes, m_extractedBytes);
    const uint64_t budget = std::min(allowed, m_cache.FreeBytesBeyondReserve());
    if (info.uncompressedSize > budget) {
        Record([](ArchiveProblems& p) { p.limitReached = true; });
        return EntryResult::StopJob;
    }
    CZipEntryReader reader;
    if (archive.OpenEntry(reader) != VEXEL_ZIP_OK) {
        Record([](ArchiveProblems& p) { ++p.damaged; });
        return EntryResult::Skipped;
    }
    std::optional<CBinaryValueCacher::GroupFile> target = m_cache.NewGroupFile("zip");
    if (!target) {
        Record([](ArchiveProblems& p) { ++p.damaged; });
        return EntryResult::Skipped;
    }
    uint64_t written = 0;
    bool damaged = false;
    bool full = false;
    std::optional<EntryResult> stop;
    for (;;) {
        const JobState state = State();
        if (state == JobState::PauseRequested || state == JobState::CancelRequested) {
            stop = state == JobState::PauseRequested ? EntryResult::Paused : EntryResult::Cancelled;
            break;
        }
        const int32_t got = reader.ReadBlock();
        if (got == 0) break;
        // A read error (a checksum mismatch too), or an entry growing past its declared size.
        if (got < 0 || written + uint64_t(got) > info.uncompressedSize) {
            damaged = true;
            break;
        }
        if (std::fwrite(reader.Block(), 1, size_t(got), target->stream) != size_t(got)) {
            full = errno == ENOSPC;
            damaged = true;
            break;
        }
        written += uint64_t(got);
    }
    reader.Close();
    if (std::fclose(target->stream) != 0 && !damaged && !stop) {
        full = errno == ENOSPC;
        damaged = true;
    }
    damaged = damaged || (!stop && written != info.uncompressedSize);
    if (stop || damaged) {
        RemoveQuietly(target->path);
        if (stop) return *stop;
        if (full) {
            Record([](ArchiveProblems& p) { p.diskFull = true; });
            return EntryResult::StopJob;
        }
        Record([](ArchiveProblems& p) { ++p.damaged; });
        return EntryResult::Skipped;
    }
    m_extractedBytes += written;
    const uint32_t item = index + 1;
    ScanFileRecord record{{}, {}, target->path.string()};
    if (!pool.Submit([this, record, item] { LoadOne(record, item); })) {
        RemoveQuietly(record.path);
        return EntryResult::Skipped;
    }
    return EntryResult::Loaded;
}

}  // namespace vexel
