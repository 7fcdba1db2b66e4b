// Turns the export window's choices into the items and movies of one run: which images, at
// what size and view, under which names and folders. Runs on the user-interface thread; the
// patient and study folders of "all opened series" are made here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/series_record.h"
#include "engine/study_model_view.h"
#include "output/export_item.h"

namespace vexel {

class CMemoryManager;
class CViewport2D;
class StudyModel;

enum class ExportScope : uint32_t { CurrentImage, CurrentSeries, AllSeries };

struct ExportSettings {
    ExportScope scope = ExportScope::CurrentImage;
    ExportFormat format = ExportFormat::Jpeg;
    ExportSize size = ExportSize::Default;
    int32_t fitWidth = 640;  // FitTo; clamped to 16..4096
    int32_t fitHeight = 480;
    int32_t quality = 10;  // the slider, 0..10
    AnnotationMode annotations = AnnotationMode::Full;
    int32_t framesPerSecond = 0;  // movies: 0 for the default, else clamped to 1..60
    std::string prefix;           // empty: "IMG-nnnn-" (pictures) or "movie" (movies)
    std::filesystem::path folder;
    uint32_t imageRun = 1;  // the window's counters; the plan says what they become
    uint32_t movieCounter = 1;
    // A study header's date and time as the thumbnail box shows it; empty: ISO dates.
    std::function<std::string(const StudyView&)> studyDateTime;
};

// The active viewport as the export sees it, taken on the user-interface thread.
struct ExportSource {
    SeriesId series = 0;  // 0: a series that exists only in the viewport (reformatted)
    CViewport2D* viewport = nullptr;
};

struct ExportPlan {
    std::vector<ExportItem> items;
    std::vector<ExportMovie> movies;
    uint32_t nextImageRun = 1;
    uint32_t nextMovieCounter = 1;
    std::vector<std::filesystem::path> existing;  // outputs whose names are taken
    std::string error;                            // nothing could be planned
};

int32_t JpegQuality(int32_t sliderPosition);  // 40 + 6 x position
int32_t ClampFitSide(int32_t side);           // 16..4096
int32_t ClampMovieRate(int32_t rate);         // 1..60

ExportPlan PlanExport(const ExportSettings& settings, const ExportSource& source,
                      const StudyModel& model, CMemoryManager& files);

}  // namespace vexel
