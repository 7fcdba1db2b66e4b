#include "output/export_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>

#include "engine/memory_manager.h"
#include "engine/thread_pool.h"
#include "engine/worker_thread.h"
#include "imaging/jpeg_engine.h"
#include "output/bmp_writer.h"
#include "output/export_renderer.h"
#include "output/movie_encoder.h"
#include "output/output_file.h"
#include "platform/gui/surface_canvas.h"
#include "viewer/viewport_surface.h"

namespace vexel {
namespace {

// The surface's 0x00RRGGBB words as the JPEG writer takes them: red, green, blue bytes.
std::vector<uint8_t> ToRgb(const CViewportSurface& surface) {
    const size_t count = size_t(surface.Width()) * size_t(surface.Height());
    std::vector<uint8_t> rgb(count * 3);
    const uint32_t* pixels = surface.Pixels();
    for (size_t i = 0; i < count; ++i) {
        rgb[i * 3] = uint8_t(pixels[i] >> 16);
        rgb[i * 3 + 1] = uint8_t(pixels[i] >> 8);
        rgb[i * 3 + 2] = uint8_t(pixels[i]);
    }
    return rgb;
}

// Renderers are made once per thread that needs one and handed out to pool work in turn.
class CRendererShelf {
public:
    explicit CRendererShelf(const ExportServices& services) : m_services(services) {}

    std::unique_ptr<CExportRenderer> Take() {
        {
            std::lock_guard lock(m_mutex);
            if (!m_free.empty()) {
                auto renderer = std::move(m_free.back());
                m_free.pop_back();
                return renderer;
            }
        }
        return std::make_unique<CExportRenderer>(*m_services.files, *m_services.presets,
                                                 m_services.texts, m_services.sharedStates);
    }
    void Return(std::unique_ptr<CExportRenderer> renderer) {
        std::lock_guard lock(m_mutex);
        m_free.push_back(std::move(renderer));
    }

private:
    const ExportServices& m_services;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<CExportRenderer>> m_free;
};

}  // namespace

CExportRun::CExportRun(uint64_t id, ExportServices services, std::vector<ExportItem> items,
                       std::vector<ExportMovie> movies, ExportCallbacks callbacks)
    : m_id(id),
      m_services(std::move(services)),
      m_items(std::move(items)),
      m_movies(std::move(movies)),
      m_callbacks(std::move(callbacks)) {
    m_total = m_items.size();
    for (const ExportMovie& movie : m_movies)
        m_total += movie.frames.size();
}

CExportRun::~CExportRun() {
    Stop();
    if (m_thread.joinable()) m_thread.join();
}

void CExportRun::Wait() {
    if (m_thread.joinable()) m_thread.join();
}

bool CExportRun::Start() {
    if (m_thread.joinable() || !m_services.files || !m_services.presets || !m_services.jpeg)
        return false;
    // The workers draw texts: whatever the text drawing sets up lazily is set up here, once.
    PrepareTextDrawing();
    m_ended = false;
    auto thread = CreateWorkerThread([this] {
        if (m_movies.empty()) {
            RunPictures();
        } else {
            RunMovies();
        }
        ExportProgress last;
        {
            std::lock_guard lock(m_countLock);
            last = {m_id, m_done, m_total, m_failed, true, m_stop.load()};
        }
        m_ended = true;
        if (m_callbacks.onProgress) m_callbacks.onProgress(last);
    });
    if (!thread) {
        m_ended = true;
        return false;
    }
    m_thread = std::move(*thread);
    return true;
}

void CExportRun::RunPictures() {
    CRendererShelf shelf(m_services);
    CThreadPool pool(m_services.threads);
    for (const ExportItem& item : m_items) {
        if (m_stop) break;
        // Let the memory just released be used by the items in flight before new ones start.
        if (m_services.files->IsMemoryLoadHigh()) {
            pool.WaitIdle();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        pool.Submit([this, &shelf, &item] {
            auto renderer = shelf.Take();
            WritePicture(*renderer, item);
            shelf.Return(std::move(renderer));
        });
    }
    pool.WaitIdle();
}

void CExportRun::WritePicture(CExportRenderer& renderer, const ExportItem& item) {
    std::string reason;
    const CViewportSurface* surface = renderer.Render(item, &reason);
    if (surface == nullptr) return Fail(item.sourcePath, reason);
    auto output = COutputFile::Create(item.outputPath, &reason);
    if (!output) return Fail(item.outputPath.string(), reason);
    const std::string temp = output->TempPath().string();
    const bool written =
        item.format == ExportFormat::Bmp
            ? WriteBmp(temp, surface->Pixels(), surface->Width(), surface->Height(),
                       size_t(surface->Width()))
            : m_services.jpeg->CompressJpeg(ToRgb(*surface).data(), surface->Width(),
                                            surface->Height(), item.jpegQuality, temp);
    if (!written) return Fail(item.outputPath.string(), "cannot be written");
    if (!output->Commit(m_services.replace, &reason)) return Fail(item.outputPath.string(), reason);
    if (m_callbacks.onWritten) m_callbacks.onWritten(item.outputPath);
    Count(false);
}

void CExportRun::RunMovies() {
    CExportRenderer renderer(*m_services.files, *m_services.presets, m_services.texts,
                             m_services.sharedStates);
    for (const ExportMovie& movie : m_movies) {
        if (m_stop) break;
        if (!WriteMovie(renderer, movie)) {
            // The frames it did not reach still count as dealt with.
            std::lock_guard lock(m_countLock);
            ++m_failed;
        }
    }
}

bool CExportRun::WriteMovie(CExportRenderer& renderer, const ExportMovie& movie) {
    std::string reason;
    auto output = COutputFile::Create(movie.outputPath, &reason);
    CMovieEncoder encoder;
    bool ok = output.has_value();
    size_t index = 0;
    for (; index < movie.frames.size() && ok && !m_stop; ++index) {
        const CViewportSurface* surface = renderer.Render(movie.frames[index], &reason);
        if (surface == nullptr) {
            ok = false;
            break;
        }
        if (index == 0) {
            MovieSettings settings;
            settings.codec = movie.format == ExportFormat::Wmv ? MovieCodec::Wmv : MovieCodec::Mp4;
            const float rate =
                movie.framesPerSecond > 0 ? float(movie.framesPerSecond) : renderer.CineRate();
            settings.framesPerSecond = int32_t(std::clamp(std::lround(rate), 1L, 60L));
            settings.bitRateKbps = movie.bitRateKbps;
            ok = encoder.Open(output->TempPath().string(), settings, &reason);
        }
        ok = ok && encoder.AddFrame(surface->Pixels(), surface->Width(), surface->Height(),
                                    size_t(surface->Width()), &reason);
        std::lock_guard lock(m_countLock);
        ++m_done;
        if (m_callbacks.onProgress)
            m_callbacks.onProgress({m_id, m_done, m_total, m_failed, false, false});
    }
    {
        std::lock_guard lock(m_countLock);
        m_done += movie.frames.size() - index;
    }
    if (m_stop && ok && index < movie.frames.size()) return true;  // stopped: nothing kept
    ok = ok && encoder.Finish(&reason) && output->Commit(m_services.replace, &reason);
    if (!ok) {
        if (m_callbacks.onFailed)
            m_callbacks.onFailed(movie.outputPath.string(), reason.empty() ? "failed" : reason);
        return false;
    }
    if (m_callbacks.onWritten) m_callbacks.onWritten(movie.outputPath);
    return true;
}

void CExportRun::Count(bool failed) {
    std::lock_guard lock(m_countLock);
    ++m_done;
    if (failed) ++m_failed;
    if (m_callbacks.onProgress)
        m_callbacks.onProgress({m_id, m_done, m_total, m_failed, false, false});
}

void CExportRun::Fail(const std::string& what, const std::string& reason) {
    if (m_callbacks.onFailed) m_callbacks.onFailed(what, reason);
    Count(true);
}

}  // namespace vexel
