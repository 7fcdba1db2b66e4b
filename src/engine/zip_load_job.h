// The job that loads a ZIP archive: every entry is copied, in 64 KiB blocks, into a new
// numbered file of the disk cache's "zip" group and then loaded on the pool like a scanned
// file, while the next entries are still being copied. Entry names never become paths.
//
// The archive is untrusted: copying stays within a budget (the cache volume's free space
// beyond the reserve, at most 64 GiB, and 200,000 entries), an entry may not grow past its
// declared size, and a read error, a checksum mismatch or a short entry skips it. What went
// wrong is counted so the user can be told.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "engine/scan_and_load_job.h"

namespace vexel {

class CBinaryValueCacher;
class CThreadPool;
class CZIPEngine;
class CZipArchive;

// Why an archive gave fewer files than it holds.
struct ArchiveProblems {
    bool moduleMissing = false;
    bool unreadable = false;     // could not be opened or listed
    bool diskFull = false;       // the job stopped early
    bool limitReached = false;   // the budget or the entry cap; the job stopped early
    uint32_t encrypted = 0;      // entries skipped
    uint32_t damaged = 0;        // entries skipped: read errors, checksums, sizes, writes
};

struct ArchiveLimits {
    uint64_t maxBytes = 64ull << 30;  // at most this much extracted, whatever the free space
    uint32_t maxEntries = 200'000;
};

class CZIPLoadJob final : public CDicomScanAndLoadJob {
public:
    CZIPLoadJob(CTaskManager& tasks, CMemoryManager& files, CZIPEngine& zip,
                CBinaryValueCacher& cache, std::string archivePath, uint32_t threadCount = 0,
                ArchiveLimits limits = {});

    JobState Run() override;
    bool IsArchiveJob() const override { return true; }
    const std::string& ArchivePath() const { return m_archivePath; }
    // Read after the job ended (or from its owner's messages).
    ArchiveProblems Problems() const;

private:
    enum class EntryResult { Loaded, Skipped, Paused, Cancelled, StopJob };
    // Copies the current entry into a new file of the cache and hands it to the pool.
    EntryResult ExtractEntry(CZipArchive& archive, CThreadPool& pool, uint32_t index);
    void Record(const std::function<void(ArchiveProblems&)>& change);

    CZIPEngine& m_zip;
    CBinaryValueCacher& m_cache;
    std::string m_archivePath;
    ArchiveLimits m_limits;
    uint64_t m_extractedBytes = 0;  // job thread only
    mutable std::mutex m_problemsLock;
    ArchiveProblems m_problems;
};

}  // namespace vexel
