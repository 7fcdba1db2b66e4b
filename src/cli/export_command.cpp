// The export window's work without a window: the same plans, renderers and writers, for
// scripts and for tests that compare what is written with other tools.
#include "cli/export_command.h"

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/option_number.h"
#include "cli/shown_series.h"
#include "cli/view_options.h"
#include "engine/memory_manager.h"
#include "engine/study_model.h"
#include "imaging/dicom_image.h"
#include "output/export_naming.h"
#include "output/export_plan.h"
#include "output/export_run.h"
#include "platform/gui/surface_canvas.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_window_tool.h"
#include "viewer/window_preset.h"

namespace vexel::cli {
namespace {

namespace fs = std::filesystem;

struct ExportOptions {
    std::vector<std::string> paths;
    std::string out;
    long series = 0;
    long image = 0;
    ExportSettings settings;
    std::optional<std::pair<int32_t, int32_t>> viewportSize;  // --size WxH
    std::string preset;
    std::optional<WindowLevel> window;
    int32_t rotate = 0;
    bool flipHorizontal = false;
    bool flipVertical = false;
    bool overwrite = false;
};

bool ParseSide(const char* text, int32_t& side) {
    long value = 0;
    if (!ParseLongOption(text, value) || value < 1 || value > 16384) return false;
    side = int32_t(value);
    return true;
}

bool ParseSize(const std::string& text, ExportOptions& o) {
    if (text == "default") {
        o.settings.size = ExportSize::Default;
        return true;
    }
    int32_t width = 0, height = 0;
    const bool fit = text.rfind("fit:", 0) == 0;
    if (!ParsePair(fit ? text.substr(4) : text, 'x', width, height, ParseSide)) return false;
    if (fit) {
        o.settings.size = ExportSize::FitTo;
        o.settings.fitWidth = width;
        o.settings.fitHeight = height;
    } else {
        o.settings.size = ExportSize::Current;
        o.viewportSize = std::pair(width, height);
    }
    return true;
}

bool ParseOption(const std::string& arg, const std::string& value, ExportOptions& o) {
    long number = 0;
    ExportSettings& s = o.settings;
    if (arg == "--out") {
        o.out = value;
    } else if (arg == "--scope") {
        if (value == "image")
            s.scope = ExportScope::CurrentImage;
        else if (value == "series")
            s.scope = ExportScope::CurrentSeries;
        else if (value == "all")
            s.scope = ExportScope::AllSeries;
        else
            return false;
    } else if (arg == "--series" && ParseLongOption(value.c_str(), number) && number >= 0) {
        o.series = number;
    } else if (arg == "--image" && ParseLongOption(value.c_str(), number) && number >= 0) {
        o.image = number;
    } else if (arg == "--format") {
        if (value == "jpeg" || value == "jpg")
            s.format = ExportFormat::Jpeg;
        else if (value == "bmp")
            s.format = ExportFormat::Bmp;
        else if (value == "wmv")
            s.format = ExportFormat::Wmv;
        else if (value == "mp4")
            s.format = ExportFormat::Mp4;
        else
            return false;
    } else if (arg == "--size") {
        return ParseSize(value, o);
    } else if (arg == "--quality" && ParseLongOption(value.c_str(), number) && number >= 0 &&
               number <= 10) {
        s.quality = int32_t(number);
    } else if (arg == "--annotations") {
        if (value == "full")
            s.annotations = AnnotationMode::Full;
        else if (value == "basic")
            s.annotations = AnnotationMode::Basic;
        else if (value == "none")
            s.annotations = AnnotationMode::None;
        else
            return false;
    } else if (arg == "--prefix") {
        s.prefix = value;
    } else if (arg == "--fps" && ParseLongOption(value.c_str(), number) && number >= 0 &&
               number <= 1000) {
        s.framesPerSecond = number == 0 ? 0 : ClampMovieRate(int32_t(number));
    } else if (arg == "--rotate" && ParseLongOption(value.c_str(), number) &&
               (number == 0 || number == 90 || number == 180 || number == 270)) {
        o.rotate = int32_t(number);
    } else if (arg == "--flip" && (value == "h" || value == "v")) {
        (value == "h" ? o.flipHorizontal : o.flipVertical) = true;
    } else if (arg == "--preset") {
        o.preset = value;
    } else if (arg == "--window") {
        WindowLevel w;
        if (!ParsePair(value, ',', w.centre, w.width, ParseFloatOption)) return false;
        o.window = w;
    } else {
        return false;
    }
    return true;
}

bool ParseOptions(int argc, char** argv, ExportOptions& o) {
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--overwrite") {
            o.overwrite = true;
        } else if (!arg.empty() && arg[0] != '-') {
            o.paths.push_back(arg);
        } else if (i + 1 >= argc || !ParseOption(arg, argv[++i], o)) {
            return false;
        }
    }
    return !o.paths.empty() && !o.out.empty() && !(o.window && !o.preset.empty());
}

void PrintUsage() {
    std::fprintf(stderr,
                 "usage: vexel export PATH... --out DIR [--scope image|series|all] [--series N]\n"
                 "         [--image N] [--format jpeg|bmp|wmv|mp4]\n"
                 "         [--size default|fit:WxH|WxH] [--quality 0-10]\n"
                 "         [--annotations full|basic|none] [--prefix P] [--fps N]\n"
                 "         [--preset NAME | --window C,W] [--rotate 90|180|270] [--flip h|v]\n"
                 "         [--overwrite]\n"
                 "  series and image count from 0 in display order; --size default writes one\n"
                 "  pixel per image pixel, fit:WxH fits the image into that size, WxH draws it\n"
                 "  as a viewport of that size shows it; existing files are kept unless\n"
                 "  --overwrite\n");
}

}  // namespace

int RunExport(int argc, char** argv, CMemoryManager& files, CJPEGEngine& jpeg) {
    ExportOptions o;
    if (!ParseOptions(argc, argv, o)) {
        PrintUsage();
        return 2;
    }
    const auto folder = ExportFolder(o.out);
    if (!folder) {
        std::fprintf(stderr, "vexel: %s: not a folder\n", o.out.c_str());
        return 1;
    }
    o.settings.folder = *folder;
    CWindowPresetTable presets;
    std::optional<int32_t> presetId;
    if (!o.preset.empty() && !(presetId = FindPresetOption(presets, o.preset))) {
        std::fprintf(stderr, "vexel: unknown preset '%s'\n", o.preset.c_str());
        return 2;
    }

    StudyModel model;
    const SeriesId shown = ScanAndPickSeries(o.paths, o.series, files, model);
    if (shown == 0) return 1;
    if (!EnsureGuiApplication() && o.settings.annotations != AnnotationMode::None) {
        std::fprintf(stderr, "vexel: texts cannot be drawn here; use --annotations none\n");
        return 1;
    }

    // The series shown as the export window would find it in the active panel.
    CSeriesStateStore states;
    ViewportServices services;
    services.states = &states;
    services.presets = &presets;
    CViewport2D viewport(services);
    const auto [width, height] = o.viewportSize.value_or(std::pair(512, 512));
    if (!viewport.CreateOffscreen(width, height, ViewGeometry{})) {
        std::fprintf(stderr, "vexel: not enough memory for %dx%d\n", width, height);
        return 1;
    }
    if (!LoadAndShow(viewport, model, shown, o.image, files)) return 1;
    if (presetId) viewport.SelectPreset(*presetId);
    if (o.window) viewport.WindowTool().ApplyWindow(o.window->centre, o.window->width);
    if (o.rotate != 0 || o.flipHorizontal || o.flipVertical)
        viewport.Transform(o.rotate, o.flipVertical, o.flipHorizontal, false);

    ExportPlan plan = PlanExport(o.settings, {shown, &viewport}, model, files);
    if (!plan.error.empty()) {
        std::fprintf(stderr, "vexel: %s: %s\n", o.out.c_str(), plan.error.c_str());
        return 1;
    }
    if (!plan.existing.empty() && !o.overwrite) {
        for (const fs::path& taken : plan.existing)
            std::fprintf(stderr, "vexel: %s: exists (use --overwrite)\n", taken.c_str());
        return 1;
    }
    std::mutex printing;
    ExportServices exportServices;
    exportServices.files = &files;
    exportServices.jpeg = &jpeg;
    exportServices.presets = &presets;
    exportServices.sharedStates = &states;
    exportServices.replace = o.overwrite;
    ExportCallbacks callbacks;
    callbacks.onWritten = [&](const fs::path& path) {
        std::lock_guard lock(printing);
        std::printf("%s\n", path.c_str());
    };
    bool failed = false;
    callbacks.onFailed = [&](const std::string& what, const std::string& reason) {
        std::lock_guard lock(printing);
        std::fprintf(stderr, "vexel: %s: %s\n", what.c_str(), reason.c_str());
        failed = true;
    };
    CExportRun run(1, exportServices, std::move(plan.items), std::move(plan.movies), callbacks);
    if (!run.Start()) {
        std::fprintf(stderr, "vexel: the export could not start\n");
        return 1;
    }
    run.Wait();
    if (run.Total() == 0) {
        std::fprintf(stderr, "vexel: nothing to export\n");
        return 1;
    }
    return failed ? 1 : 0;
}

}  // namespace vexel::cli
