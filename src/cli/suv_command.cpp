// Standardized uptake values of PET series, as the viewer works them out, for checking against
// reference objects from a script.
#include "cli/suv_command.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/json_text.h"
#include "cli/shown_series.h"
#include "engine/memory_manager.h"
#include "engine/study_model.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "imaging/pet_suv.h"

namespace vexel::cli {
namespace {

struct FileSuv {
    std::string path;
    std::string sopInstanceUid;
    SuvInfo suv;
};

struct SeriesSuv {
    std::string seriesInstanceUid;
    std::string unit;  // empty: no values; "mixed" when the files disagree
    double minimum = 0, median = 0, maximum = 0;
    std::string maxSop;
    uint32_t maxRow = 0, maxColumn = 0;
};

std::string Format(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

// Every non-zero value of the series' images in their SUV unit (or Bq/ml), and its files.
SeriesSuv MeasureSeries(CMemoryManager& files, const std::vector<std::string>& paths,
                        std::vector<FileSuv>& out) {
    std::vector<CFileRef> opened;
    std::optional<double> earliest;
    for (const std::string& path : paths) {
        auto [file, status] = files.Open(path);
        if (!file) continue;
        if (auto instant = AcquisitionInstant(*file); instant && (!earliest || *instant < *earliest))
            earliest = instant;
        opened.push_back(std::move(file));
    }
    SeriesSuv series;
    std::vector<float> values;
    double largest = -1e300;
    for (CFileRef& file : opened) {
        FileSuv entry{file->Path(), file->String(0x00080018), ComputeSuv(*file, earliest)};
        if (series.seriesInstanceUid.empty()) series.seriesInstanceUid = file->String(0x0020000E);
        const std::string unit = SuvUnitText(entry.suv);
        if (!unit.empty()) series.unit = series.unit.empty() || series.unit == unit ? unit : "mixed";
        CDicomImage* image = CDicomImage::Of(*file);
        CDicomFrame* frame = image != nullptr ? image->Frame(0) : nullptr;
        std::vector<CDicomFrame*> holders;
        const auto* words = frame != nullptr && !frame->IsColour()
                                ? reinterpret_cast<const uint16_t*>(frame->Pixels(&holders))
                                : nullptr;
        if (words != nullptr && !unit.empty()) {
            const double factor = entry.suv.state == SuvState::Suv ? entry.suv.factor : 1.0;
            const double slope = image->RescaleSlope(), intercept = image->RescaleIntercept();
            for (uint32_t row = 0; row < frame->Rows(); ++row)
                for (uint32_t column = 0; column < frame->Columns(); ++column) {
                    const uint16_t word = words[size_t(row) * frame->Columns() + column];
                    const double stored = image->IsSigned() ? double(int16_t(word)) : double(word);
                    const double value = (stored * slope + intercept) * factor;
                    if (value == 0 || !std::isfinite(value)) continue;
                    values.push_back(float(value));
                    if (value > largest) {
                        largest = value;
                        series.maxSop = entry.sopInstanceUid;
                        series.maxRow = row;
                        series.maxColumn = column;
                    }
                }
        }
        CDicomFrame::ReleaseHolders(holders);
        out.push_back(std::move(entry));
    }
    if (values.empty() || series.unit == "mixed") {
        if (values.empty()) series.unit.clear();
        return series;
    }
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    series.minimum = *low;
    series.maximum = *high;
    // The median of an even count is the mean of the two middle values.
    const size_t half = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + long(half), values.end());
    series.median = values[half];
    if (values.size() % 2 == 0)
        series.median = (series.median +
                         *std::max_element(values.begin(), values.begin() + long(half))) / 2;
    return series;
}

}  // namespace

int RunSuv(int argc, char** argv, CMemoryManager& files) {
    std::vector<std::string> paths;
    bool json = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            json = true;
        } else if (!arg.empty() && arg[0] != '-') {
            paths.push_back(arg);
        } else {
            paths.clear();
            break;
        }
    }
    if (paths.empty()) {
        std::fprintf(stderr,
                     "usage: vexel suv PATH... [--json]\n"
                     "  each PET file's SUV factor (or why there is none), and each series'\n"
                     "  minimum, median and maximum over its non-zero voxels\n");
        return 2;
    }
    StudyModel model;
    const std::vector<SeriesId> ids = ScanSeries(paths, files, model);
    if (ids.empty()) return 1;
    std::vector<FileSuv> all;
    std::vector<SeriesSuv> series;
    for (SeriesId id : ids)
        series.push_back(MeasureSeries(files, model.GetSeriesFiles(id), all));

    if (!json) {
        for (const FileSuv& f : all) {
            const std::string unit = SuvUnitText(f.suv);
            if (f.suv.state == SuvState::Suv)
                std::printf("%s: %s, factor %s\n", f.path.c_str(), unit.c_str(),
                            Format(f.suv.factor).c_str());
            else
                std::printf("%s: %s (%s)\n", f.path.c_str(),
                            unit.empty() ? "no SUV" : unit.c_str(), f.suv.reason.c_str());
        }
        for (const SeriesSuv& s : series) {
            if (s.unit.empty() || s.unit == "mixed") {
                std::printf("series %s: %s\n", s.seriesInstanceUid.c_str(),
                            s.unit.empty() ? "no values" : "files in different units");
                continue;
            }
            std::printf("series %s: %s min %s median %s max %s (%s, row %u, column %u)\n",
                        s.seriesInstanceUid.c_str(), s.unit.c_str(), Format(s.minimum).c_str(),
                        Format(s.median).c_str(), Format(s.maximum).c_str(), s.maxSop.c_str(),
                        s.maxRow, s.maxColumn);
        }
        return 0;
    }
    std::string out = "{\"files\":[";
    for (size_t i = 0; i < all.size(); ++i) {
        const FileSuv& f = all[i];
        out += std::string(i ? "," : "") + "{\"path\":" + JsonQuoted(f.path) +
               ",\"sopInstanceUid\":" + JsonQuoted(f.sopInstanceUid) +
               ",\"state\":" + std::to_string(uint32_t(f.suv.state)) +
               ",\"factor\":" + Format(f.suv.factor) + ",\"unit\":" + JsonQuoted(SuvUnitText(f.suv)) +
               ",\"suvType\":" + JsonQuoted(f.suv.suvType) + ",\"reason\":" + JsonQuoted(f.suv.reason) +
               "}";
    }
    out += "],\"series\":[";
    for (size_t i = 0; i < series.size(); ++i) {
        const SeriesSuv& s = series[i];
        out += std::string(i ? "," : "") + "{\"seriesInstanceUid\":" + JsonQuoted(s.seriesInstanceUid) +
               ",\"unit\":" + JsonQuoted(s.unit);
        if (!s.unit.empty() && s.unit != "mixed")
            out += ",\"min\":" + Format(s.minimum) + ",\"median\":" + Format(s.median) +
                   ",\"max\":" + Format(s.maximum) + ",\"maxAt\":{\"sopInstanceUid\":" +
                   JsonQuoted(s.maxSop) + ",\"row\":" + std::to_string(s.maxRow) +
                   ",\"column\":" + std::to_string(s.maxColumn) + "}";
        out += "}";
    }
    std::printf("%s]}\n", out.c_str());
    return 0;
}

}  // namespace vexel::cli
