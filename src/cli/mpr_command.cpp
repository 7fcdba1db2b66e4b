// Reports the volumes the viewer finds in a series: the geometry that multiplanar reformatting
// starts from, so that a stack with gaps, a gantry tilt or mixed orientations can be checked
// from a script. With --out it reformats the series as the viewer does and writes each slice's
// stored values and header, so the output can be checked against the true anatomy.
#include "cli/mpr_command.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/json_text.h"
#include "cli/shown_series.h"
#include "cli/view_options.h"
#include "engine/memory_manager.h"
#include "engine/parallel_thread_pool.h"
#include "engine/study_model.h"
#include "engine/volume_finder.h"
#include "engine/volume_report.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_2d.h"
#include "viewer/window_preset.h"
#include "volume/mpr_builder.h"

namespace vexel::cli {
namespace {

struct MprOptions {
    std::vector<std::string> paths;
    long series = -1;  // -1: every series
    std::string plane;
    std::string out;
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
        } else if (arg == "--out") {
            o.out = argv[++i];
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
        "usage: vexel mpr PATH... [--series N] --plane coronal|sagittal|axial [--out DIR] "
        "[--json]\n"
        "  reports the volumes found in each series (or series N, counted from 0 in\n"
        "  display order): plane, images, spacing, gaps, gantry tilt, frame of reference;\n"
        "  --out reformats the largest volume of the series (or of the first series that\n"
        "  has one) into DIR: slice_NNNN.pgm (16-bit stored values) and slices.json\n");
}

// A series listed as a viewport lists it; the viewport holds its files while it lives.
class CListedSeries {
public:
    CListedSeries(CMemoryManager& files, const StudyModel& model, SeriesId id) {
        ViewportServices services;
        services.states = &m_states;
        services.presets = &m_presets;
        services.layerMask = 0;
        m_viewport = std::make_unique<CViewport2D>(services);
        if (!m_viewport->CreateOffscreen(1, 1, ViewGeometry{})) return;
        for (const std::string& path : model.GetSeriesFiles(id)) {
            auto [file, status] = files.Open(path);
            CDicomImage* image = file ? CDicomImage::Of(*file) : nullptr;
            if (image != nullptr) m_viewport->AddImage(std::move(file), *image, 0);
        }
    }
    std::vector<VolumeRecord> Volumes() const {
        return FindVolumes(m_viewport->Id(), m_viewport->ListedFrames());
    }

private:
    CSeriesStateStore m_states;
    CWindowPresetTable m_presets;
    std::unique_ptr<CViewport2D> m_viewport;
};

int32_t PlaneCode(const std::string& name) {
    if (name == "axial") return kPlaneAxialFeet;
    return name == "coronal" ? kPlaneCoronal : kPlaneSagittalRight;
}

// A DS value as JSON numbers: one, or an array of all.
std::string JsonNumbers(CDicomFile& file, uint32_t tag, bool array) {
    std::string text = file.String(tag);
    std::replace(text.begin(), text.end(), '\\', ',');
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    if (text.empty()) text = array ? "" : "null";
    return array ? "[" + text + "]" : text;
}

bool WritePgm(const std::filesystem::path& path, CDicomFrame& frame) {
    std::vector<CDicomFrame*> holders;
    const auto* words = reinterpret_cast<const uint16_t*>(frame.Pixels(&holders));
    bool ok = words != nullptr;
    if (ok) {
        std::ofstream out(path, std::ios::binary);
        out << "P5\n" << frame.Columns() << " " << frame.Rows() << "\n65535\n";
        const size_t count = size_t(frame.Columns()) * frame.Rows();
        std::vector<uint8_t> bytes(count * 2);
        for (size_t i = 0; i < count; ++i) {
            bytes[2 * i] = uint8_t(words[i] >> 8);
            bytes[2 * i + 1] = uint8_t(words[i]);
        }
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        ok = bool(out);
    }
    CDicomFrame::ReleaseHolders(holders);
    return ok;
}

// Writes each slice as it comes and drops it; the index keeps the entries in slice order.
int WriteReformat(const VolumeRecord& volume, const MprOptions& o) {
    std::error_code ec;
    std::filesystem::create_directories(o.out, ec);
    std::map<uint32_t, std::string> entries;
    bool written = true;
    CParallelThreadPool pool;
    MprBuildOptions build;
    build.pool = &pool;
    build.deliver = [&](MprSlice slice) {
        CDicomFile& file = *slice.file;
        CDicomFrame* frame = CDicomImage::Of(file) ? CDicomImage::Of(file)->Frame(0) : nullptr;
        char name[32];
        std::snprintf(name, sizeof name, "slice_%04u.pgm", slice.index + 1);
        if (frame == nullptr || !WritePgm(std::filesystem::path(o.out) / name, *frame)) {
            written = false;
            return;
        }
        entries[slice.index] =
            "{\"file\":" + JsonQuoted(name) + ",\"rows\":" + std::to_string(frame->Rows()) +
            ",\"columns\":" + std::to_string(frame->Columns()) +
            ",\"imagePositionPatient\":" + JsonNumbers(file, 0x00200032, true) +
            ",\"imageOrientationPatient\":" + JsonNumbers(file, 0x00200037, true) +
            ",\"pixelSpacing\":" + JsonNumbers(file, 0x00280030, true) +
            ",\"sliceThickness\":" + JsonNumbers(file, 0x00180050, false) +
            ",\"rescaleSlope\":" + JsonNumbers(file, 0x00281053, false) +
            ",\"rescaleIntercept\":" + JsonNumbers(file, 0x00281052, false) +
            ",\"signed\":" + (file.Integer(0x00280103, 0) == 1 ? "true" : "false") +
            ",\"photometric\":" + JsonQuoted(file.String(0x00280004)) + "}";
    };
    std::string error;
    const MprOutcome outcome = BuildMpr(volume, PlaneCode(o.plane), build, &error);
    if (outcome != MprOutcome::Done || !written) {
        std::fprintf(stderr, "vexel: %s: %s\n", o.out.c_str(),
                     !written ? "a slice could not be written" : error.c_str());
        return 1;
    }
    std::ofstream json(std::filesystem::path(o.out) / "slices.json");
    json << "{\"slices\":[";
    bool first = true;
    for (const auto& [index, entry] : entries) {
        json << (first ? "" : ",\n") << entry;
        first = false;
    }
    json << "]}\n";
    if (!json) {
        std::fprintf(stderr, "vexel: %s: slices.json could not be written\n", o.out.c_str());
        return 1;
    }
    std::printf("%zu slices written to %s\n", entries.size(), o.out.c_str());
    return 0;
}

// The volume the viewer would reformat into the plane, of series `index` or of the first
// series that has one.
int Reformat(CMemoryManager& files, const StudyModel& model, const std::vector<SeriesId>& series,
             const MprOptions& o) {
    std::string why = "no volume can be reformatted";
    for (size_t s = 0; s < series.size(); ++s) {
        if (o.series >= 0 && s != size_t(o.series)) continue;
        CListedSeries listed(files, model, series[s]);
        const std::vector<VolumeRecord> volumes = listed.Volumes();
        if (const VolumeRecord* volume = ChooseMprVolume(volumes, PlaneCode(o.plane), &why))
            return WriteReformat(*volume, o);
    }
    std::fprintf(stderr, "vexel: %s\n", why.c_str());
    return 1;
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
    if (!o.out.empty()) return Reformat(files, model, series, o);
    if (o.json) std::printf("{\"volumes\":[");
    bool first = true;
    for (size_t s = 0; s < series.size(); ++s) {
        if (o.series >= 0 && s != size_t(o.series)) continue;
        std::vector<VolumeGeometryReport> reports;
        for (const VolumeRecord& volume : CListedSeries(files, model, series[s]).Volumes())
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
