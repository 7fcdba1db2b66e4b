// The 2D viewport as the user drives it: a 512 x 512 CT slice in a 1024 x 1024 viewport after
// a window change (look-up and scaling, compose, present) and after a pan (scaling only), on
// one thread and on two; a plain copy of the window surface for scale; and browsing a series
// of 500 decoded 512 x 512 slices with the wheel. "Present" copies the surface into a screen
// buffer, as the window does. The annotation layer: its texts rebuilt and drawn for a new
// frame, set against rendering that frame, and the readout's partial redraw on a mouse move.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "dicom/dicom_dictionary.h"
#include "engine/memory_services.h"
#include "imaging/dicom_image.h"
#include "platform/gui/surface_canvas.h"
#include "platform/memory_load.h"
#include "viewer/viewport_annotations.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_window_tool.h"
#include "viewer/window_preset.h"

namespace vexel {
namespace {

constexpr int kSide = 512;
constexpr int kClient = 1024;
constexpr int kSeries = 500;

class CScreen final : public IViewportWindow {
public:
    void PresentSurface(const CViewportSurface& surface, const PixelRect* rect) override {
        const size_t count = size_t(surface.Width()) * surface.Height();
        m_pixels.resize(count);
        ++presents;
        if (rect == nullptr) {
            std::memcpy(m_pixels.data(), surface.Pixels(), count * sizeof(uint32_t));
            return;
        }
        // A partial present copies its rectangle only, as the window does.
        for (int32_t y = rect->y; y < rect->y + rect->height; ++y) {
            const size_t at = size_t(y) * surface.Width() + rect->x;
            std::memcpy(m_pixels.data() + at, surface.Pixels() + at,
                        size_t(rect->width) * sizeof(uint32_t));
        }
    }
    uint64_t presents = 0;

private:
    std::vector<uint32_t> m_pixels;
};

// The slices and the registry that holds them, made once for all benchmarks.
struct Series {
    CDicomDictionary dictionary;
    CSystemMemoryLoad load;
    CMemoryServices memory{load};
    std::vector<CFileRef> files;
    std::vector<CDicomImage*> images;

    Series() {
        std::string error;
        const auto paths = bench::EnsureCtCorpus(VEXEL_BENCH_DATA_DIR, {kSeries, kSide, kSide},
                                                 &error);
        if (paths.empty()) std::fprintf(stderr, "corpus: %s\n", error.c_str());
        for (const std::string& path : paths) {
            auto [file, status] = memory.Manager().Open(path);
            CDicomImage* image = file ? CDicomImage::Of(*file) : nullptr;
            if (image == nullptr) continue;
            image->DecodeAllIdleFrames();
            images.push_back(image);
            files.push_back(std::move(file));
        }
    }
};

Series& TheSeries() {
    static Series series;
    return series;
}

struct Rig {
    CSeriesStateStore states;
    CWindowPresetTable presets;
    CScreen screen;
    std::unique_ptr<CViewport2D> viewport;

    Rig(uint32_t threads, size_t images) {
        ViewportServices services;
        services.states = &states;
        services.presets = &presets;
        services.resamplerThreads = threads;
        viewport = std::make_unique<CViewport2D>(services);
        viewport->Create(screen);
        viewport->SizeChanged(kClient + CMyScrollBar::kWidth, kClient);
        Series& series = TheSeries();
        for (size_t i = 0; i < images && i < series.images.size(); ++i)
            viewport->AddImage(CFileRef(), *series.images[i], 0);
        viewport->MergePendingImages();
        viewport->ShowImage(std::min<size_t>(images, series.images.size()) / 2, false, true);
    }
};

void BM_WindowChange(benchmark::State& state) {
    Rig rig(uint32_t(state.range(0)), 1);
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        rig.viewport->WindowTool().ApplyWindow(flip ? 40 : 300, flip ? 80 : 1500);
    }
    state.counters["stage1_runs"] = double(rig.viewport->Resampler().Stage1Runs());
}

void BM_Pan(benchmark::State& state) {
    Rig rig(uint32_t(state.range(0)), 1);
    rig.viewport->SetZoom(2.5f);
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        rig.viewport->Pan(flip ? 1 : -1, 0);
    }
    state.counters["stage1_runs"] = double(rig.viewport->Resampler().Stage1Runs());
}

void BM_CopySurface(benchmark::State& state) {
    std::vector<uint32_t> from(size_t(kClient) * kClient, 0x00404040u);
    std::vector<uint32_t> to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size() * sizeof(uint32_t));
        benchmark::ClobberMemory();
    }
}

// One wheel notch per iteration through the whole series (wrapping at its ends).
void BM_BrowseWheel(benchmark::State& state) {
    Rig rig(uint32_t(state.range(0)), kSeries);
    const uint64_t before = rig.screen.presents;
    for (auto _ : state) rig.viewport->MouseWheel(-120);
    state.counters["images"] = double(rig.viewport->ImageCount());
    state.counters["frames_per_s"] =
        benchmark::Counter(double(rig.screen.presents - before), benchmark::Counter::kIsRate);
}

// Resampling the frame alone (look-up and scaling), the work a frame change does anyway.
void BM_RenderFrame(benchmark::State& state) {
    Rig rig(uint32_t(state.range(0)), 1);
    for (auto _ : state) rig.viewport->Render();
}

// What the annotations add to a frame change: every text rebuilt, then the layer drawn.
void BM_AnnotationFrameChange(benchmark::State& state) {
    if (!EnsureGuiApplication()) return state.SkipWithError("no Qt Gui");
    Rig rig(1, 1);
    CViewport2DAnnotations& annotations = rig.viewport->Annotations();
    CViewportSurface surface;
    surface.Resize(rig.viewport->Surface().Width(), rig.viewport->Surface().Height());
    for (auto _ : state) {
        annotations.FrameChanged(rig.viewport->CurrentFrame());
        auto canvas = CreateSurfaceCanvas(surface.Pixels(), surface.Width(), surface.Height(),
                                          size_t(surface.Width()));
        annotations.Draw(*canvas, nullptr);
    }
}

// The mouse moves between two pixels of different value: the readout changes every time and
// only its line is drawn again and presented.
void BM_ReadoutMove(benchmark::State& state) {
    if (!EnsureGuiApplication()) return state.SkipWithError("no Qt Gui");
    Rig rig(2, 1);
    rig.viewport->Compose();
    bool flip = false;
    const uint64_t before = rig.screen.presents;
    for (auto _ : state) {
        flip = !flip;
        rig.viewport->MouseMove(flip ? 500 : 530, 500);
    }
    state.counters["presents"] = double(rig.screen.presents - before);
}

BENCHMARK(BM_RenderFrame)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnnotationFrameChange)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadoutMove)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowChange)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pan)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopySurface)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BrowseWheel)->ArgName("threads")->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vexel

BENCHMARK_MAIN();
