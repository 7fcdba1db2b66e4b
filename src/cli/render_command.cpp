// Renders one frame of a series the way the viewer shows it, through an off-screen viewport,
// so that pictures can be compared with other toolkits and between versions.
#include "cli/render_command.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "cli/option_number.h"
#include "cli/shown_series.h"
#include "cli/view_options.h"
#include "engine/memory_manager.h"
#include "engine/study_model.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "imaging/png_writer.h"
#include "platform/gui/surface_canvas.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_annotations.h"
#include "viewer/viewport_window_tool.h"
#include "viewer/window_preset.h"

namespace vexel::cli {
namespace {

constexpr int32_t kMaxSide = 16384;

struct RenderOptions {
    std::string path;
    std::string out;
    int32_t width = 512;
    int32_t height = 512;
    long series = 0;
    long image = 0;
    std::optional<long> frame;
    std::string preset;
    std::optional<WindowLevel> window;
    bool negative = false;
    std::optional<float> zoom;
    int32_t panX = 0;
    int32_t panY = 0;
    int32_t rotate = 0;
    bool flipHorizontal = false;
    bool flipVertical = false;
    bool noLayers = false;
    AnnotationMode annotations = AnnotationMode::Full;
    bool printAnnotations = false;
};

bool ParseLong(const char* text, long& value) { return ParseLongOption(text, value); }

bool ParseFloat(const char* text, float& value) { return ParseFloatOption(text, value); }

bool ParseInt32(const char* text, int32_t& value) {
    long parsed = 0;
    if (!ParseLong(text, parsed) || parsed < -kMaxSide * 64L || parsed > kMaxSide * 64L) {
        return false;
    }
    value = int32_t(parsed);
    return true;
}

bool ParseOptions(int argc, char** argv, RenderOptions& o) {
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        const char* value = hasValue ? argv[i + 1] : "";
        long number = 0;
        if (arg == "--negative") {
            o.negative = true;
            continue;
        }
        if (arg == "--no-layers") {
            o.noLayers = true;
            continue;
        }
        if (arg == "--print-annotations") {
            o.printAnnotations = true;
            continue;
        }
        if (!arg.empty() && arg[0] != '-') {
            if (!o.path.empty()) return false;
            o.path = arg;
            continue;
        }
        if (!hasValue) return false;
        ++i;
        if (arg == "--out") {
            o.out = value;
        } else if (arg == "--size") {
            if (!ParsePair(value, 'x', o.width, o.height, ParseInt32)) return false;
            if (o.width < 1 || o.height < 1 || o.width > kMaxSide || o.height > kMaxSide) {
                return false;
            }
        } else if (arg == "--series" && ParseLong(value, number) && number >= 0) {
            o.series = number;
        } else if (arg == "--image" && ParseLong(value, number) && number >= 0) {
            o.image = number;
        } else if (arg == "--frame" && ParseLong(value, number) && number >= 0) {
            o.frame = number;
        } else if (arg == "--preset") {
            o.preset = value;
        } else if (arg == "--window") {
            WindowLevel w;
            if (!ParsePair(value, ',', w.centre, w.width, ParseFloat)) return false;
            o.window = w;
        } else if (arg == "--zoom") {
            float zoom = 0;
            if (!ParseFloat(value, zoom) || zoom <= 0) return false;
            o.zoom = zoom;
        } else if (arg == "--pan") {
            if (!ParsePair(value, ',', o.panX, o.panY, ParseInt32)) return false;
        } else if (arg == "--rotate" && ParseLong(value, number) &&
                   (number == 0 || number == 90 || number == 180 || number == 270)) {
            o.rotate = int32_t(number);
        } else if (arg == "--annotations" && std::string(value) == "full") {
            o.annotations = AnnotationMode::Full;
        } else if (arg == "--annotations" && std::string(value) == "basic") {
            o.annotations = AnnotationMode::Basic;
        } else if (arg == "--annotations" && std::string(value) == "none") {
            o.annotations = AnnotationMode::None;
        } else if (arg == "--flip" && (std::string(value) == "h" || std::string(value) == "v")) {
            (value[0] == 'h' ? o.flipHorizontal : o.flipVertical) = true;
        } else {
            return false;
        }
    }
    return !o.path.empty() && !o.out.empty() && !(o.window && !o.preset.empty());
}

void PrintUsage() {
    std::fprintf(stderr,
                 "usage: vexel render PATH --out FILE.png [--size WxH] [--series N] [--image N]\n"
                 "         [--frame N] [--preset NAME | --window C,W] [--negative] [--zoom F]\n"
                 "         [--pan DX,DY] [--rotate 90|180|270] [--flip h|v] [--no-layers]\n"
                 "         [--annotations full|basic|none] [--print-annotations]\n"
                 "  PATH is a file or a folder; series, image and frame count from 0 in display\n"
                 "  order; presets: default, full, abdomen, angio, bone, brain, chest, lungs or\n"
                 "  their keys 0-7; layers (annotations, rulers) are drawn unless --no-layers;\n"
                 "  --print-annotations lists the texts drawn, one 'place: text' line each\n");
}

}  // namespace

int RunRender(int argc, char** argv, CMemoryManager& files) {
    RenderOptions o;
    if (!ParseOptions(argc, argv, o)) {
        PrintUsage();
        return 2;
    }
    CWindowPresetTable presets;
    std::optional<int32_t> presetId;
    if (!o.preset.empty() && !(presetId = FindPresetOption(presets, o.preset))) {
        std::fprintf(stderr, "vexel: unknown preset '%s'\n", o.preset.c_str());
        return 2;
    }

    StudyModel model;
    const SeriesId series = ScanAndPickSeries({o.path}, o.series, files, model);
    if (series == 0) return 1;

    CSeriesStateStore states;
    ViewportServices services;
    services.states = &states;
    services.presets = &presets;
    CViewport2D viewport(services);
    if (!viewport.CreateOffscreen(o.width, o.height, ViewGeometry{})) {
        std::fprintf(stderr, "vexel: not enough memory for %dx%d\n", o.width, o.height);
        return 1;
    }
    if (o.noLayers) {
        viewport.SetLayerMask(0);
    } else if (!EnsureGuiApplication()) {
        std::fprintf(stderr, "vexel: texts cannot be drawn here; use --no-layers\n");
        return 1;
    }
    viewport.Annotations().SetMode(o.annotations);
    if (!LoadAndShow(viewport, model, series, o.image, files)) return 1;
    CDicomImage& image = *viewport.CurrentImage();
    if (o.frame) {
        if (size_t(*o.frame) >= image.FrameCount()) {
            std::fprintf(stderr, "vexel: the image has %zu frames\n", image.FrameCount());
            return 1;
        }
        viewport.SetFrame(image.Frame(size_t(*o.frame)));
    }
    if (presetId) viewport.SelectPreset(*presetId);
    if (o.window) viewport.WindowTool().ApplyWindow(o.window->centre, o.window->width);
    if (o.negative) viewport.SetNegative(!viewport.Negative());
    if (o.rotate != 0 || o.flipHorizontal || o.flipVertical) {
        viewport.Transform(o.rotate, o.flipVertical, o.flipHorizontal, false);
    }
    if (o.zoom) viewport.SetZoom(*o.zoom);
    if (o.panX != 0 || o.panY != 0) viewport.Pan(o.panX, o.panY);

    if (!viewport.RenderedImage()) {
        std::fprintf(stderr, "vexel: %s: the frame cannot be drawn\n", image.File().Path().c_str());
        return 1;
    }
    const CViewportSurface& surface = viewport.Surface();
    if (!WritePng(o.out, surface.Pixels(), uint32_t(surface.Width()), uint32_t(surface.Height()),
                  size_t(surface.Width()))) {
        std::fprintf(stderr, "vexel: cannot write %s\n", o.out.c_str());
        return 1;
    }
    const ViewGeometry& g = viewport.Geometry();
    std::printf("%s: image %zu of %zu, frame %zu, window %g/%g, zoom %g, %dx%d\n", o.out.c_str(),
                viewport.CurrentIndex(), viewport.ImageCount(), viewport.CurrentFrameIndex(),
                double(viewport.Lut().Centre()), double(viewport.Lut().Width()), double(g.zoom),
                surface.Width(), surface.Height());
    if (o.printAnnotations && !o.noLayers) {
        for (const ShownAnnotation& shown : viewport.Annotations().ShownTexts())
            std::printf("%s: %s\n", shown.place.c_str(), shown.text.c_str());
    }
    return 0;
}

}  // namespace vexel::cli
