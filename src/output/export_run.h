// One export: writes its items (pictures, in parallel on a pool, one renderer per thread) or
// its movies (one after the other, frame by frame) on a thread of its own. Every output is
// written under a temporary name in its folder and put in place only when whole, so a failed
// or stopped item leaves nothing behind and an existing file is never overwritten unless
// the run was told to replace.
//
// Threads: construct, Start, Stop and destroy on one thread (the user-interface thread). The
// callbacks run on the run's threads; they must only hand the news on (post, print). The
// last call is always onProgress with `finished` set.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "output/export_item.h"
#include "viewer/viewer_texts.h"

namespace vexel {

class CJPEGEngine;
class CMemoryManager;
class CSeriesStateStore;
class CWindowPresetTable;

struct ExportProgress {
    uint64_t run = 0;
    size_t done = 0;  // items (pictures, or movie frames) dealt with, written or not
    size_t total = 0;
    size_t failed = 0;  // pictures or movies that could not be written
    bool finished = false;
    bool stopped = false;
};

struct ExportServices {
    CMemoryManager* files = nullptr;
    CJPEGEngine* jpeg = nullptr;
    const CWindowPresetTable* presets = nullptr;
    const CSeriesStateStore* sharedStates = nullptr;  // the viewer's; null: none
    TextLookup texts;
    uint32_t threads = 0;  // 0: one per logical processor
    bool replace = false;  // existing files may be replaced (the user said so)
};

struct ExportCallbacks {
    std::function<void(const ExportProgress&)> onProgress;
    std::function<void(const std::filesystem::path&)> onWritten;
    // What could not be written (an output path or a source file) and why.
    std::function<void(const std::string& what, const std::string& reason)> onFailed;
};

class CExportRun {
public:
    // Services must outlive the run. Either items or movies.
    CExportRun(uint64_t id, ExportServices services, std::vector<ExportItem> items,
               std::vector<ExportMovie> movies, ExportCallbacks callbacks);
    // Stops and waits for the thread.
    ~CExportRun();
    CExportRun(const CExportRun&) = delete;
    CExportRun& operator=(const CExportRun&) = delete;

    // False when the thread could not be made (then nothing is reported).
    bool Start();
    // The running items finish; nothing new starts.
    void Stop() { m_stop = true; }
    // Returns once the thread has ended (its last report made).
    void Wait();
    bool Running() const { return !m_ended; }
    uint64_t Id() const { return m_id; }
    size_t Total() const { return m_total; }

private:
    void RunPictures();
    void RunMovies();
    void WritePicture(class CExportRenderer& renderer, const ExportItem& item);
    bool WriteMovie(class CExportRenderer& renderer, const ExportMovie& movie);
    void Count(bool failed);
    void Fail(const std::string& what, const std::string& reason);

    const uint64_t m_id;
    ExportServices m_services;
    std::vector<ExportItem> m_items;
    std::vector<ExportMovie> m_movies;
    ExportCallbacks m_callbacks;
    size_t m_total = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_ended{true};
    std::mutex m_countLock;  // also orders the progress calls
    size_t m_done = 0;
    size_t m_failed = 0;
    std::thread m_thread;
};

}  // namespace vexel
