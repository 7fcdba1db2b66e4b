#include "app/thumbnail_worker.h"

namespace vexel {

CThumbnailWorker::CThumbnailWorker(QObject& context, Receiver receiver)
    : m_context(context), m_receiver(std::move(receiver)),
      m_thread([this](std::stop_token stop) { Run(stop); }) {}

CThumbnailWorker::~CThumbnailWorker() {
    m_thread.request_stop();
    m_wake.notify_all();
    m_thread.join();
}

void CThumbnailWorker::Post(SeriesId series, CFileRef file, CDicomImage& image) {
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back({series, std::move(file), &image});
    }
    m_wake.notify_one();
}

void CThumbnailWorker::Run(std::stop_token stop) {
    for (;;) {
        std::optional<Job> job;
        {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait(lock, stop, [&] { return !m_jobs.empty(); })) return;
            job.emplace(std::move(m_jobs.front()));
            m_jobs.pop_front();
        }
        const SeriesId series = job->series;
        std::optional<Thumbnail> thumbnail = RenderThumbnail(*job->image);
        job.reset();  // the file may go now
        if (!thumbnail) continue;
        // Queued to the context's thread; dropped when the context is gone by then.
        QMetaObject::invokeMethod(
            &m_context,
            [receiver = m_receiver, series, thumbnail = std::move(*thumbnail)]() mutable {
                receiver(series, std::move(thumbnail));
            },
            Qt::QueuedConnection);
    }
}

}  // namespace vexel
