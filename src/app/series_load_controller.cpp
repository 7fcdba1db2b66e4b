#include "app/series_load_controller.h"

#include "engine/file_reference.h"
#include "engine/image_load_job.h"
#include "engine/job_queue.h"
#include "engine/memory_manager.h"
#include "engine/study_model.h"
#include "viewer/viewport_2d.h"

namespace vexel {

CSeriesLoadController::CSeriesLoadController(ScanServices services, StudyModel& model,
                                             CViewport2D& viewport)
    : m_services(services), m_model(model), m_viewport(viewport) {
    m_ownerId = m_registry->Register(*this);
}

CSeriesLoadController::~CSeriesLoadController() {
    // Messages still on their way find no owner.
    m_registry->Unregister(m_ownerId);
    Cancel();
}

bool CSeriesLoadController::Load(SeriesId series, size_t start) {
    Cancel();
    // A new load generation: whatever the old load still sends is refused by the viewport.
    m_viewport.Clear(true);
    m_series = series;
    if (!m_services.queue || !m_services.tasks || !m_services.files) return false;
    std::vector<std::string> paths = m_model.GetSeriesFiles(series);
    if (paths.empty()) return false;
    auto job = std::make_shared<CDicomImageLoadJob>(*m_services.tasks, *m_services.files,
                                                    std::move(paths));
    job->SetOwner(m_registry, m_ownerId);
    job->SetOwnerData(m_viewport.LoadGeneration());
    job->SetStartIndex(start);
    m_arrived = 0;
    if (!m_services.queue->Submit(job)) return false;
    m_load = std::move(job);
    return true;
}

void CSeriesLoadController::Cancel() {
    if (!m_load) return;
    if (onProgress) onProgress(0, false);
    m_load->Cancel();
    m_load.reset();
}

uint32_t CSeriesLoadController::OnJobMessage(CDicomJob& job, const JobMessage* message) {
    // Only the current load speaks; a cancelled one may still be finishing its last files.
    if (&job != m_load.get()) return 0;
    if (message == nullptr) {
        m_load.reset();
        return 0;
    }
    switch (message->code) {
        case JobMessageCode::ImageLoadStarted:
            if (onProgress) onProgress(0, true);
            return 0;
        case JobMessageCode::ImageLoaded: {
            ++m_arrived;
            if (onProgress && message->total > 0) {
                onProgress(int32_t(uint64_t(m_arrived) * 100 / message->total), true);
            }
            if (message->file == nullptr || message->image == nullptr) return 0;
            // The job's own reference ends with the delivery; the viewport keeps one of its own.
            m_services.files->AddReference(message->file);
            CFileRef file(*m_services.files, message->file);
            m_viewport.AddImage(std::move(file), *message->image, uint32_t(job.OwnerData()));
            return 0;
        }
        case JobMessageCode::ImageLoadFinished:
            m_viewport.MergePendingImages();
            if (onProgress) onProgress(0, false);
            if (onLoadFinished) onLoadFinished();
            return 0;
        default:
            return 0;
    }
}

}  // namespace vexel
