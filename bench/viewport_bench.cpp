// The 2D viewport as the user drives it: a 512 x 512 CT slice in a 1024 x 1024 viewport after
// a window change (look-up and scaling, compose, present) and after a pan (scaling only), on
// one thread and on two; a plain copy of the window surface for scale; and browsing a series
// of 500 decoded 512 x 512 slices with the wheel. "Present" copies the surface into a screen
// buffer, as the window does. The annotation layer: its texts rebuilt and drawn for a new
// frame, set against rendering that frame, and the readout's partial redraw on a mouse move.
// Cine: panels playing 300 slices for 10 s through the real timing thread and a UI loop
// (delivered rate, interval error, the UI thread's busy share), and a frame of the second
// loop, served from the cine cache, against a copy of one frame's bitmap. HiDPI: the same
// 1024 x 1024 logical viewport at device pixel ratio 2 (2048 x 2048 device pixels) against
// ratio 1, every frame through both resampler stages, compose and present.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "dicom/dicom_dictionary.h"
#include "engine/memory_services.h"
#include "imaging/binary_value_mem_cacher.h"
#include "imaging/dicom_image.h"
#include "platform/gui/surface_canvas.h"
#include "platform/headless_event_loop.h"
#include "platform/memory_load.h"
#include "viewer/cine_engine.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_annotations.h"
#include "viewer/viewport_cine.h"
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
        const auto paths =
            bench::EnsureCtCorpus(VEXEL_BENCH_DATA_DIR, {kSeries, kSide, kSide}, &error);
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

    Rig(uint32_t threads, size_t images, CCineEngine* cine = nullptr,
        CBinaryValueMemCacher* cache = nullptr, float ratio = 1, uint32_t layers = kAllLayers) {
        ViewportServices services;
        services.states = &states;
        services.presets = &presets;
        services.resamplerThreads = threads;
        services.cine = cine;
        services.renderCache = cache;
        services.layerMask = layers;
        viewport = std::make_unique<CViewport2D>(services);
        viewport->Create(screen);
        viewport->SetDevicePixelRatio(ratio);
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

// range(0): the device pixel ratio in tenths; range(1): 1 draws the layers (annotations,
// rulers). The window changes every frame, so stage 1 (look-up) and stage 2 (scaling) both run.
void BM_HiDpiFrame(benchmark::State& state) {
    const bool layers = state.range(1) != 0;
    if (layers && !EnsureGuiApplication()) return state.SkipWithError("no Qt Gui");
    Rig rig(0, 1, nullptr, nullptr, float(state.range(0)) / 10.0f,
            layers ? uint32_t(kAllLayers) : 0u);
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        rig.viewport->WindowTool().ApplyWindow(flip ? 40 : 300, flip ? 80 : 1500);
    }
    const CViewportSurface& surface = rig.viewport->Surface();
    state.counters["device_side"] = double(surface.Width());
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
    for (auto _ : state)
        rig.viewport->MouseWheel(-120);
    state.counters["images"] = double(rig.viewport->ImageCount());
    state.counters["frames_per_s"] =
        benchmark::Counter(double(rig.screen.presents - before), benchmark::Counter::kIsRate);
}

// Resampling the frame alone (look-up and scaling), the work a frame change does anyway.
void BM_RenderFrame(benchmark::State& state) {
    Rig rig(uint32_t(state.range(0)), 1);
    for (auto _ : state)
        rig.viewport->Render();
}

// What the annotations add to a frame change: every text rebuilt, then the layer drawn. The
// frames follow one another through the series, so the slice line is new each time.
void BM_AnnotationFrameChange(benchmark::State& state) {
    if (!EnsureGuiApplication()) return state.SkipWithError("no Qt Gui");
    Rig rig(1, 1);
    CViewport2DAnnotations& annotations = rig.viewport->Annotations();
    CViewportSurface surface;
    surface.Resize(rig.viewport->Surface().Width(), rig.viewport->Surface().Height());
    const std::vector<CDicomImage*>& images = TheSeries().images;
    size_t next = 0;
    for (auto _ : state) {
        next = (next + 1) % images.size();
        annotations.FrameChanged(images[next]->Frame(0));
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

constexpr size_t kCineImages = 300;

uint64_t NowUs() {
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

// A panel's playback that notes when each of its frames was shown.
struct TimedPlayer final : ICinePlayer {
    CViewport2DCine* cine = nullptr;
    std::vector<uint64_t> shown;
    uint64_t Advance() override {
        shown.push_back(NowUs());
        return cine->Advance();
    }
};

// range(0) panels at range(1) frames per second for 10 s.
void BM_CinePlayback(benchmark::State& state) {
    const size_t panels = size_t(state.range(0));
    const float rate = float(state.range(1));
    CHeadlessEventLoop loop;
    uint64_t busyUs = 0;
    std::vector<TimedPlayer> players(panels);
    CCineEngine engine({{},
                        [&](std::function<void()> tick) {
                            return loop.Post([&busyUs, tick = std::move(tick)] {
                                const uint64_t start = NowUs();
                                tick();
                                busyUs += NowUs() - start;
                            });
                        },
                        [&](uint32_t panel) -> ICinePlayer* {
                            return panel >= 1 && panel <= panels ? &players[panel - 1] : nullptr;
                        }});
    CBinaryValueMemCacher cache({}, &TheSeries().load);
    std::vector<std::unique_ptr<Rig>> rigs;
    for (size_t i = 0; i < panels; ++i) {
        rigs.push_back(std::make_unique<Rig>(2, kCineImages, &engine, &cache));
        rigs.back()->viewport->SetPanelId(uint32_t(i + 1));
        rigs.back()->viewport->ShowImage(0, false, true);
        players[i].cine = &rigs.back()->viewport->Cine();
        players[i].cine->SetRate(rate);
    }
    uint64_t wall = 0;
    for (auto _ : state) {
        const uint64_t start = NowUs();
        for (TimedPlayer& player : players)
            player.cine->Start();
        while (NowUs() - start < 10000000) {
            loop.WaitForPending(1);
            loop.RunPending();
        }
        for (TimedPlayer& player : players)
            player.cine->Stop();
        wall = NowUs() - start;
    }
    const double period = 1e6 / rate;
    std::vector<double> errors;
    double worstRate = 0;
    double delivered = 0;
    for (const TimedPlayer& player : players) {
        if (player.shown.size() < 2) return state.SkipWithError("a panel did not play");
        const double span = double(player.shown.back() - player.shown.front());
        const double fps = double(player.shown.size() - 1) * 1e6 / span;
        delivered += fps / double(panels);
        worstRate = std::max(worstRate, std::abs(fps / rate - 1) * 100);
        for (size_t k = 1; k < player.shown.size(); ++k)
            errors.push_back(std::abs(double(player.shown[k] - player.shown[k - 1]) - period));
    }
    std::sort(errors.begin(), errors.end());
    state.counters["fps"] = delivered;
    state.counters["rate_error_pct"] = worstRate;
    state.counters["p95_interval_error_ms"] = errors[errors.size() * 95 / 100] / 1000;
    state.counters["ui_busy_pct"] = 100.0 * double(busyUs) / double(wall);
}

// The second loop: every frame comes from the cine cache (fetch, compose, present).
void BM_CineCachedFrame(benchmark::State& state) {
    CCineEngine engine({{}, [](std::function<void()>) { return true; }, {}});
    CBinaryValueMemCacher cache({}, &TheSeries().load);
    Rig rig(2, kCineImages, &engine, &cache);
    rig.viewport->SetPanelId(1);
    CViewport2DCine& cine = rig.viewport->Cine();
    if (!cine.Start()) return state.SkipWithError("cine did not start");
    for (size_t i = 0; i < kCineImages; ++i)
        cine.Advance();
    if (!cine.Caching()) return state.SkipWithError("the cache was refused");
    for (auto _ : state)
        cine.Advance();
    state.counters["cached_mib"] = double(cache.TotalBytes()) / (1 << 20);
    cine.Stop();
}

BENCHMARK(BM_RenderFrame)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnnotationFrameChange)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadoutMove)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowChange)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HiDpiFrame)
    ->ArgNames({"ratio10", "layers"})
    ->ArgsProduct({{10, 20}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pan)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopySurface)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CineCachedFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CinePlayback)
    ->ArgNames({"panels", "fps"})
    ->Args({1, 60})
    ->Args({4, 30})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BrowseWheel)->ArgName("threads")->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vexel

BENCHMARK_MAIN();
