// Loads the series the user chose into the viewport: one image load job at a time through
// the job queue, its images handed to the viewport as they arrive. Choosing another series
// (or closing) cancels the running load; its late messages are dropped.
#pragma once

#include <functional>
#include <memory>

#include "app/scan_controller.h"
#include "engine/job_message.h"
#include "engine/series_record.h"

namespace vexel {

class CDicomImageLoadJob;
class CViewport2D;
class StudyModel;

class CSeriesLoadController final : public IJobOwner {
public:
    // Uses the queue, the task manager and the file registry of services.
    CSeriesLoadController(ScanServices services, StudyModel& model, CViewport2D& viewport);
    ~CSeriesLoadController() override;

    // Clears the viewport and starts loading the series' files into it, from the file at
    // `start` on (the image the viewport shows first arrives first). False when nothing was
    // started (unknown or empty series, no queue).
    bool Load(SeriesId series, size_t start = 0);
    // Stops the running load; what arrived stays shown.
    void Cancel();
    // No series any more (the viewport was emptied).
    void Forget() { m_series = 0; }
    bool Loading() const { return m_load != nullptr; }
    // The series last asked for, 0 before the first.
    SeriesId Series() const { return m_series; }
    // Called when a load has delivered all its images.
    std::function<void()> onLoadFinished;
    // Loading started (0, true), advanced (percent of the files, true) or ended (0, false).
    std::function<void(int32_t percent, bool loading)> onProgress;

    uint32_t OnJobMessage(CDicomJob& job, const JobMessage* message) override;

private:
    ScanServices m_services;
    StudyModel& m_model;
    CViewport2D& m_viewport;
    std::shared_ptr<CJobOwnerRegistry> m_registry = std::make_shared<CJobOwnerRegistry>();
    uint64_t m_ownerId = 0;
    std::shared_ptr<CDicomImageLoadJob> m_load;
    SeriesId m_series = 0;
    uint32_t m_arrived = 0;  // files of the current load processed so far
};

}  // namespace vexel
