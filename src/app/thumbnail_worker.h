// Draws thumbnails on a thread of their own, so that a scan that finds many series never
// waits for the user-interface thread to draw them. Each job holds a reference to its file
// until it has run; the result reaches the receiver on the user-interface thread, and jobs
// still waiting when the worker goes are dropped with their references.
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "engine/file_reference.h"
#include "engine/series_record.h"
#include "viewer/thumbnail.h"

namespace vexel {

class CDicomImage;

class CThumbnailWorker final {
public:
    using Receiver = std::function<void(SeriesId, Thumbnail)>;
    // `context` is the object the results are delivered to (and die with).
    CThumbnailWorker(QObject& context, Receiver receiver);
    ~CThumbnailWorker();
    CThumbnailWorker(const CThumbnailWorker&) = delete;
    CThumbnailWorker& operator=(const CThumbnailWorker&) = delete;

    void Post(SeriesId series, CFileRef file, CDicomImage& image);

private:
    struct Job {
        SeriesId series;
        CFileRef file;
        CDicomImage* image;
    };
    void Run(std::stop_token stop);

    QObject& m_context;
    Receiver m_receiver;
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::deque<Job> m_jobs;
    std::jthread m_thread;  // last: it starts once everything it uses exists
};

}  // namespace vexel
