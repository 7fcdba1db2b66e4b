// A scan run without a window: the job queue, the dispatcher on a headless loop of the
// calling thread, and an owner that files every loaded file into a study model. Used by
// `vexel scan`, the tests and the benchmarks.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/zip_load_job.h"

namespace vexel {

class CBinaryValueCacher;
class CMemoryManager;
class StudyModel;
class CDicomScanAndLoadJob;
class CZIPEngine;

struct HeadlessScanRequest {
    std::vector<std::string> folders;
    std::vector<std::string> files;
    // An archive instead of folders and files: unpacked through zip into cache's files.
    std::string archive;
    CZIPEngine* zip = nullptr;
    CBinaryValueCacher* cache = nullptr;
    ArchiveLimits archiveLimits;
    uint32_t threads = 0;  // 0: one per logical processor
    // Called on the calling thread about every period with (processed, total).
    std::function<void(uint32_t, uint32_t)> progress;
    std::chrono::milliseconds progressPeriod{200};
    // Called on the calling thread with each message code, before it is handled; tests use
    // it to pause, cancel or change files at chosen moments.
    std::function<void(CDicomScanAndLoadJob&, uint32_t code)> onMessage;
};

struct HeadlessScanSummary {
    uint32_t total = 0;                              // files listed
    uint32_t loaded = 0;                             // images loaded
    uint32_t skippedFiles = 0;                       // unreadable, not images, DICOMDIRs
    uint32_t skippedEntries = 0;                     // neither files nor folders we could enter
    uint32_t duplicates = 0;                         // images listed once although found again
    bool finished = false;                           // false when cancelled
    std::chrono::milliseconds firstSeriesAfter{-1};  // -1: no series
    std::chrono::milliseconds elapsed{0};
    ArchiveProblems archiveProblems;
};

HeadlessScanSummary RunHeadlessScan(CMemoryManager& files, StudyModel& model,
                                    const HeadlessScanRequest& request);

}  // namespace vexel
