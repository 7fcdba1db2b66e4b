// Reports the volumes the viewer finds in a series: the geometry that multiplanar reformatting
// starts from, so that a stack with gaps, a gantry tilt or mixed orientations can be checked
// from a script.
#include "cli/mpr_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/json_text.h"
#include "cli/shown_series.h"
#include "cli/view_options.h"
#include "engine/memory_manager.h"
#include "engine/study_model.h"
#include "engine/volume_finder.h"
#include "engine/volume_report.h"
#include "imaging/dicom_image.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_2d.h"
#include "viewer/window_preset.h"

namespace vexel::cli {
namespace {

struct MprOptions {
    std::vector<std::string> paths;
    long series = -1;  // -1: every series
    std::string plane;
    bool json = false;
};

bool ParseOptions(int argc, char** argv, MprOptions& o) {
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            o.json = true;
        } else if (!arg.empty() && arg[0] != '-') {
            o.paths.push_back(arg);
        } else if (i + 1 >= argc) {
            return false;
        } else if (arg == "--series") {
            if (!ParseLongOption(argv[++i], o.series) || o.series < 0) return false;
        } else if (arg == "--plane") {
            o.plane = argv[++i];
            if (o.plane != "coronal" && o.plane != "sagittal" && o.plane != "axial") return false;
        } else {
            return false;
        }
    }
    return !o.paths.empty() && !o.plane.empty();
}

void PrintUsage() {
    std::fprintf(
        stderr,
        "usage: vexel mpr PATH... [--series N] --plane coronal|sagittal|axial [--json]\n"
        "  reports the volumes found in each series (or series N, counted from 0 in\n"
        "  display order): plane, images, spacing, gaps, gantry tilt, frame of reference\n");
}

// The series' frames in the order a viewport lists them.
std::vector<VolumeRecord> SeriesVolumes(CMemoryManager& files, const StudyModel& model,
                                        SeriesId id) {
    CSeriesStateStore states;
    CWindowPresetTable presets;
    ViewportServices services;
    services.states = &states;
    services.presets = &presets;
    services.layerMask = 0;
    CViewport2D viewport(services);
    if (!viewport.CreateOffscreen(1, 1, ViewGeometry{})) return {};
    for (const std::string& path : model.GetSeriesFiles(id)) {
        auto [file, status] = files.Open(path);
        CDicomImage* image = file ? CDicomImage::Of(*file) : nullptr;
        if (image != nullptr) viewport.AddImage(std::move(file), *image, 0);
    }
    return FindVolumes(viewport.Id(), viewport.ListedFrames());
}

void PrintText(size_t series, const std::vector<VolumeGeometryReport>& reports) {
    std::printf("series %zu: %zu volume%s\n", series, reports.size(),
                reports.size() == 1 ? "" : "s");
    for (size_t v = 0; v < reports.size(); ++v) {
        const VolumeGeometryReport& r = reports[v];
        std::printf(
            "  volume %zu: %s (kind %d), %d images, spacing %g/%g/%g mm (min/median/max), "
            "tilt %g degrees, frame of reference %s\n",
            v, PlaneKindName(r.planeKind), r.planeKind, r.imageCount, double(r.spacing.minimum),
            double(r.spacing.median), double(r.spacing.maximum), double(r.tiltDegrees),
            r.frameOfReferenceUid.empty() ? "(none)" : r.frameOfReferenceUid.c_str());
        for (const VolumeGap& gap : r.gaps)
            std::printf("    gap of %g mm between depths %g and %g mm\n", double(gap.size),
                        double(gap.fromDepth), double(gap.toDepth));
    }
}

std::string Json(size_t series, const VolumeGeometryReport& r) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "{\"series\":%zu,\"images\":%d,\"planeKind\":%d,\"plane\":%s,"
                  "\"spacing\":{\"min\":%g,\"median\":%g,\"max\":%g},\"gaps\":[",
                  series, r.imageCount, r.planeKind, JsonQuoted(PlaneKindName(r.planeKind)).c_str(),
                  double(r.spacing.minimum), double(r.spacing.median), double(r.spacing.maximum));
    std::string json = text;
    for (size_t g = 0; g < r.gaps.size(); ++g) {
        std::snprintf(text, sizeof text, "%s{\"from\":%g,\"to\":%g,\"size\":%g}", g ? "," : "",
                      double(r.gaps[g].fromDepth), double(r.gaps[g].toDepth),
                      double(r.gaps[g].size));
        json += text;
    }
    std::snprintf(text, sizeof text,
                  "],\"tiltDegrees\":%g,\"frameOfReferenceUid\":", double(r.tiltDegrees));
    return json + text + JsonQuoted(r.frameOfReferenceUid) + "}";
}

}  // namespace

int RunMpr(int argc, char** argv, CMemoryManager& files) {
    MprOptions o;
    if (!ParseOptions(argc, argv, o)) {
        PrintUsage();
        return 2;
    }
    StudyModel model;
    const std::vector<SeriesId> series = ScanSeries(o.paths, files, model);
    if (series.empty()) return 1;
    if (o.series >= 0 && size_t(o.series) >= series.size()) {
        std::fprintf(stderr, "vexel: there are %zu series\n", series.size());
        return 1;
    }
    if (o.json) std::printf("{\"volumes\":[");
    bool first = true;
    for (size_t s = 0; s < series.size(); ++s) {
        if (o.series >= 0 && s != size_t(o.series)) continue;
        std::vector<VolumeGeometryReport> reports;
        for (const VolumeRecord& volume : SeriesVolumes(files, model, series[s]))
            reports.push_back(ReportVolumeGeometry(volume));
        if (!o.json) {
            PrintText(s, reports);
            continue;
        }
        for (const VolumeGeometryReport& report : reports) {
            std::printf("%s%s", first ? "" : ",", Json(s, report).c_str());
            first = false;
        }
    }
    if (o.json) std::printf("]}\n");
    return 0;
}

}  // namespace vexel::cli
