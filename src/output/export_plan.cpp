#include "output/export_plan.h"

#include <algorithm>

#include "engine/memory_manager.h"
#include "engine/study_model.h"
#include "engine/study_model_text.h"
#include "imaging/dicom_image.h"
#include "output/export_naming.h"
#include "output/movie_encoder.h"
#include "output/output_file.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_window_tool.h"
#include "volume/viewport_fusion.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

std::string Extension(ExportFormat format) {
    switch (format) {
        case ExportFormat::Bmp:
            return "bmp";
        case ExportFormat::Jpeg:
            return "jpg";
        case ExportFormat::Wmv:
            return "wmv";
        case ExportFormat::Mp4:
            return "mp4";
    }
    return "jpg";
}

// "YYYY-MM-DD HH:MM" from the study's DA and TM, as far as they go.
std::string IsoDateTime(const StudyView& study) {
    const std::string date = TrimPadding(study.date);
    const std::string time = TrimPadding(study.time);
    std::string text;
    if (date.size() >= 8)
        text = date.substr(0, 4) + "-" + date.substr(4, 2) + "-" + date.substr(6, 2);
    if (time.size() >= 4)
        text += (text.empty() ? "" : " ") + time.substr(0, 2) + ":" + time.substr(2, 2);
    return text;
}

// The window the active viewport shows its series with: remembered as the user left it.
std::shared_ptr<const std::vector<StateBlock>> ViewportState(CViewport2D& viewport) {
    auto blocks = std::make_shared<std::vector<StateBlock>>();
    const auto window = viewport.WindowTool().State().Remembered(viewport.SeriesKey());
    if (window) {
        const auto bytes = EncodeWindowState(*window);
        blocks->push_back({viewport.SeriesKey(), StateRecord::kWindowState,
                           std::vector<uint8_t>(bytes.begin(), bytes.end())});
    }
    return blocks;
}

class CPlanner {
public:
    CPlanner(const ExportSettings& settings, const ExportSource& source, const StudyModel& model,
             CMemoryManager& files)
        : m_settings(settings), m_source(source), m_model(model), m_files(files) {
        m_plan.nextImageRun = settings.imageRun;
        m_plan.nextMovieCounter = settings.movieCounter;
        m_movie = IsMovie(settings.format);
        m_extension = Extension(settings.format);
        m_size = settings.size;
        // The viewport's size and view belong to what is on screen: not to other series, and
        // not to movies, whose frames must all have one size.
        if (m_size == ExportSize::Current && (m_movie || settings.scope == ExportScope::AllSeries))
            m_size = ExportSize::Default;
    }

    ExportPlan Run() {
        CViewport2D* viewport = m_source.viewport;
        if (viewport == nullptr || viewport->CurrentImage() == nullptr) {
            m_plan.error = "no image is shown";
            return std::move(m_plan);
        }
        if (!m_settings.prefix.empty() && !PrefixIsValid(m_settings.prefix)) {
            m_plan.error = "the file name prefix may not hold a folder separator";
            return std::move(m_plan);
        }
        m_state = ViewportState(*viewport);
        switch (m_settings.scope) {
            case ExportScope::CurrentImage:
                PlanCurrentImage(*viewport);
                break;
            case ExportScope::CurrentSeries:
                PlanCurrentSeries(*viewport);
                break;
            case ExportScope::AllSeries:
                PlanAllSeries();
                break;
        }
        return std::move(m_plan);
    }

private:
    ExportItem Item(std::string path, size_t frame, size_t place, size_t total) const {
        ExportItem item;
        item.format = m_settings.format;
        item.sourcePath = std::move(path);
        item.frame = frame;
        item.size = m_size;
        item.view = m_source.viewport->Geometry();
        if (m_size == ExportSize::FitTo) {
            item.width = ClampFitSide(m_settings.fitWidth);
            item.height = ClampFitSide(m_settings.fitHeight);
        } else if (m_size == ExportSize::Current) {
            item.width = m_source.viewport->Surface().Width();
            item.height = m_source.viewport->Surface().Height();
        }
        item.jpegQuality = JpegQuality(m_settings.quality);
        item.annotations = m_settings.annotations;
        item.place = place;
        item.total = total;
        return item;
    }

    std::string PicturePrefix() {
        if (!m_settings.prefix.empty()) return m_settings.prefix;
        // The run counter moves past every run an earlier export left in the folder.
        const uint32_t run = FirstFreeRun(m_settings.folder, m_settings.imageRun);
        m_plan.nextImageRun = run + 1;
        return DefaultPrefix(run);
    }

    void AddPicture(ExportItem item, const fs::path& output) {
        item.outputPath = output;
        if (COutputFile::Exists(output)) m_plan.existing.push_back(output);
        m_plan.items.push_back(std::move(item));
    }

    ExportMovie& AddMovie(const fs::path& output) {
        ExportMovie& movie = m_plan.movies.emplace_back();
        movie.outputPath = output;
        movie.format = m_settings.format;
        movie.framesPerSecond =
            m_settings.framesPerSecond > 0 ? ClampMovieRate(m_settings.framesPerSecond) : 0;
        movie.bitRateKbps = MovieBitRateKbps(m_settings.quality);
        if (COutputFile::Exists(output)) m_plan.existing.push_back(output);
        return movie;
    }

    void PlanCurrentImage(CViewport2D& viewport) {
        CDicomImage& image = *viewport.CurrentImage();
        ExportItem item = Item(image.File().Path(), viewport.CurrentFrameIndex(),
                               viewport.CurrentIndex(), viewport.ImageCount());
        item.state = m_state;
        Hold(item, m_source.series == 0);
        Fuse(item);
        if (m_movie) {
            AddMovie(m_settings.folder / MovieName()).frames.push_back(std::move(item));
            return;
        }
        AddPicture(std::move(item),
                   m_settings.folder / ImageFileName(PicturePrefix(), 1, m_extension));
    }

    // (path, frame) of every picture of the active series, in display order: the series'
    // whole list from the model even while the panel still loads, or the viewport's own list
    // for a series that exists only there.
    std::vector<std::pair<std::string, size_t>> ActiveSeriesFrames(CViewport2D& viewport) const {
        if (m_source.series != 0) return SeriesFrames(m_source.series);
        std::vector<std::pair<std::string, size_t>> frames;
        for (size_t i = 0; i < viewport.ImageCount(); ++i) {
            CDicomImage* image = viewport.ImageAt(i);
            for (size_t f = 0; image != nullptr && f < image->FrameCount(); ++f)
                frames.emplace_back(image->File().Path(), f);
        }
        return frames;
    }

    void PlanCurrentSeries(CViewport2D& viewport) {
        const auto frames = ActiveSeriesFrames(viewport);
        ExportMovie* movie = m_movie ? &AddMovie(m_settings.folder / MovieName()) : nullptr;
        const std::string prefix = m_movie ? std::string() : PicturePrefix();
        for (size_t i = 0; i < frames.size(); ++i) {
            ExportItem item = Item(frames[i].first, frames[i].second, i, frames.size());
            item.state = m_state;
            Hold(item, m_source.series == 0);
            Fuse(item);
            if (movie != nullptr) {
                movie->frames.push_back(std::move(item));
            } else {
                AddPicture(std::move(item),
                           m_settings.folder / ImageFileName(prefix, uint32_t(i + 1), m_extension));
            }
        }
    }

    void PlanAllSeries() {
        const bool anonymous = m_settings.annotations == AnnotationMode::Basic;
        CExportFolders folders(m_settings.folder, anonymous);
        for (const PatientView& patient : m_model.Snapshot()) {
            std::string error;
            const auto patientFolder =
                folders.AddPatient(DisplayPersonName(TrimPadding(patient.name)), &error);
            if (!patientFolder) {
                m_plan.error = error;
                return;
            }
            for (const StudyView& study : patient.studies) {
                const std::string when =
                    m_settings.studyDateTime ? m_settings.studyDateTime(study) : IsoDateTime(study);
                const auto studyFolder = folders.AddStudy(when, &error);
                if (!studyFolder) {
                    m_plan.error = error;
                    return;
                }
                uint32_t seriesCounter = 0;
                for (const SeriesView& series : study.series)
                    PlanSeries(series.id, *studyFolder, ++seriesCounter);
            }
        }
    }

    // (path, frame) of every picture of a series of the model, in display order.
    std::vector<std::pair<std::string, size_t>> SeriesFrames(SeriesId series) const {
        std::vector<std::pair<std::string, size_t>> frames;
        for (const SeriesFileRecord& file : m_model.GetSeriesFileRecords(series))
            for (uint32_t f = 0; f < std::max<uint32_t>(file.numberOfFrames, 1); ++f)
                frames.emplace_back(file.path, f);
        return frames;
    }

    void PlanSeries(SeriesId series, const fs::path& folder, uint32_t counter) {
        const auto frames = SeriesFrames(series);
        ExportMovie* movie =
            m_movie ? &AddMovie(folder / MovieFileName("movie", counter, m_extension)) : nullptr;
        const std::string prefix = DefaultPrefix(counter);
        // The active series keeps the window it is shown with.
        const bool active = series == m_source.series;
        for (size_t i = 0; i < frames.size(); ++i) {
            ExportItem item = Item(frames[i].first, frames[i].second, i, frames.size());
            if (active) {
                item.state = m_state;
                Fuse(item);
            }
            if (movie != nullptr) {
                movie->frames.push_back(std::move(item));
            } else {
                AddPicture(std::move(item),
                           folder / ImageFileName(prefix, uint32_t(i + 1), m_extension));
            }
        }
    }

    std::string MovieName() {
        return MovieFileName(m_settings.prefix, m_plan.nextMovieCounter++, m_extension);
    }

    // The fused overlay the viewport draws over the item's frame, when it shows one.
    void Fuse(ExportItem& item) const {
        CViewport2D* viewport = m_source.viewport;
        auto* fusion =
            viewport != nullptr ? dynamic_cast<CViewport2DFusion*>(viewport->Blender()) : nullptr;
        if (fusion == nullptr || !fusion->Fused()) return;
        for (size_t i = 0; i < viewport->ImageCount(); ++i) {
            CDicomImage* image = viewport->ImageAt(i);
            CDicomFrame* frame = image != nullptr && image->File().Path() == item.sourcePath
                                     ? image->Frame(item.frame)
                                     : nullptr;
            CDicomFrame* partner = frame != nullptr ? fusion->Partner(*frame) : nullptr;
            if (partner == nullptr) continue;
            ExportItem::Fused fused;
            fused.path = partner->Image().File().Path();
            fused.frame = partner->Index();
            fusion->OverlayWindow(&fused.low, &fused.high);
            if (partner->Image().File().InMemory()) {
                m_files.AddReference(&partner->Image().File());
                fused.heldFile = std::make_shared<CFileRef>(m_files, &partner->Image().File());
            }
            item.fused = std::move(fused);
            return;
        }
    }

    // Frames of a series that exists only in memory are kept alive by the item itself.
    void Hold(ExportItem& item, bool inMemory) const {
        if (!inMemory) return;
        auto [file, status] = m_files.Open(item.sourcePath);
        if (file) item.heldFile = std::make_shared<CFileRef>(std::move(file));
    }

    const ExportSettings& m_settings;
    const ExportSource& m_source;
    const StudyModel& m_model;
    CMemoryManager& m_files;
    ExportPlan m_plan;
    bool m_movie = false;
    std::string m_extension;
    ExportSize m_size = ExportSize::Default;
    std::shared_ptr<const std::vector<StateBlock>> m_state;
};

}  // namespace

int32_t JpegQuality(int32_t sliderPosition) {
    return 40 + 6 * std::clamp(sliderPosition, 0, 10);
}

int32_t ClampFitSide(int32_t side) {
    return std::clamp(side, 16, 4096);
}

int32_t ClampMovieRate(int32_t rate) {
    return std::clamp(rate, 1, 60);
}

ExportPlan PlanExport(const ExportSettings& settings, const ExportSource& source,
                      const StudyModel& model, CMemoryManager& files) {
    return CPlanner(settings, source, model, files).Run();
}

}  // namespace vexel
