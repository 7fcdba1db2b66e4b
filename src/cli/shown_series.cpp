#include "cli/shown_series.h"

#include <cstdio>
#include <filesystem>

#include "engine/headless_scan.h"
#include "engine/memory_manager.h"
#include "engine/study_model.h"
#include "imaging/dicom_image.h"
#include "viewer/viewport_2d.h"

namespace vexel::cli {

std::vector<SeriesId> ScanSeries(const std::vector<std::string>& paths, CMemoryManager& files,
                                 StudyModel& model) {
    HeadlessScanRequest request;
    std::error_code error;
    for (const std::string& path : paths)
        (std::filesystem::is_directory(path, error) ? request.folders : request.files)
            .push_back(path);
    RunHeadlessScan(files, model, request);
    std::vector<SeriesId> series;
    for (const PatientView& patient : model.Snapshot())
        for (const StudyView& study : patient.studies)
            for (const SeriesView& view : study.series)
                series.push_back(view.id);
    if (series.empty()) std::fprintf(stderr, "vexel: No DICOM images found\n");
    return series;
}

SeriesId ScanAndPickSeries(const std::vector<std::string>& paths, long index, CMemoryManager& files,
                           StudyModel& model) {
    const std::vector<SeriesId> series = ScanSeries(paths, files, model);
    if (series.empty()) return 0;
    if (index < 0 || size_t(index) >= series.size()) {
        std::fprintf(stderr, "vexel: there are %zu series\n", series.size());
        return 0;
    }
    return series[size_t(index)];
}

bool LoadAndShow(CViewport2D& viewport, const StudyModel& model, SeriesId series, long index,
                 CMemoryManager& files) {
    for (const std::string& path : model.GetSeriesFiles(series)) {
        auto [file, status] = files.Open(path);
        CDicomImage* image = file ? CDicomImage::Of(*file) : nullptr;
        if (image != nullptr) viewport.AddImage(std::move(file), *image, 0);
    }
    if (index < 0 || size_t(index) >= viewport.ImageCount()) {
        std::fprintf(stderr, "vexel: the series has %zu images\n", viewport.ImageCount());
        return false;
    }
    viewport.ShowImage(size_t(index), false, false);
    return true;
}

}  // namespace vexel::cli
