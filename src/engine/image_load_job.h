// Loads the files of one series for one panel: each file is opened, its first frame decoded
// and the file handed to the panel, then its other frames decoded, so the series fills the
// panel image by image while the rest of a scan waits.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "engine/dicom_job.h"

namespace vexel {

class CMemoryManager;

class CDicomImageLoadJob final : public CDicomJob {
public:
    // The panel's load generation travels in the owner data (SetOwnerData).
    CDicomImageLoadJob(CTaskManager& tasks, CMemoryManager& files, std::vector<std::string> paths,
                       uint32_t threadCount = 0);

    JobState Run() override;

    uint32_t Processed() const { return m_processed; }
    // Loads from paths[start] on, then the ones before it; before the job is submitted.
    void SetStartIndex(size_t start) { m_start = start; }

private:
    void LoadOne(const std::string& path, uint32_t index);
    void CountProcessed();

    CMemoryManager& m_registry;
    std::vector<std::string> m_paths;
    uint32_t m_threadCount;
    size_t m_start = 0;
    size_t m_next = 0;  // queue thread only; kept across a pause
    std::atomic<uint32_t> m_processed{0};
};

}  // namespace vexel
