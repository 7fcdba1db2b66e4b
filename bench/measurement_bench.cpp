// Measurements on a 512 x 512 CT slice in a 1024 x 1024 viewport: laying out and drawing 200
// of them (lengths, ellipses, angles, Cobb angles and pencils, 40 each), and the hover test of
// a 10,000-point pencil for a mouse inside its box, near no point (every point is looked at).
// Goals: under 2 ms for the 200, under 0.2 ms for the hover test. The canvas is made per
// draw, as every compose makes one; BM_CanvasAlone is what that costs by itself.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "engine/memory_services.h"
#include "imaging/dicom_image.h"
#include "measure/measurement_list.h"
#include "platform/gui/surface_canvas.h"
#include "platform/memory_load.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_2d.h"
#include "viewer/window_preset.h"

namespace vexel {
namespace {

struct NoWindow final : IViewportWindow {
    void PresentSurface(const CViewportSurface&, const PixelRect*) override {}
};

struct Rig {
    CSystemMemoryLoad load;
    CMemoryServices memory{load};
    CFileRef file;
    CDicomImage* image = nullptr;
    CSeriesStateStore states;
    CWindowPresetTable presets;
    CMeasurementLists lists;
    NoWindow window;
    std::unique_ptr<CViewport2D> viewport;

    explicit Rig(const std::vector<MeasurementRecord>& records) {
        std::string error;
        const auto paths = bench::EnsureCtCorpus(VEXEL_BENCH_DATA_DIR, {1, 512, 512}, &error);
        if (paths.empty()) std::fprintf(stderr, "corpus: %s\n", error.c_str());
        auto [opened, status] = memory.Manager().Open(paths.at(0));
        file = std::move(opened);
        image = CDicomImage::Of(*file);
        const std::string stream = WriteRecords(records);
        states.Put(MeasurementKey(*image, 0), StateRecord::kMeasurements,
                   reinterpret_cast<const uint8_t*>(stream.data()), stream.size());
        ViewportServices services;
        services.states = &states;
        services.presets = &presets;
        services.measurements = &lists;
        services.layerMask = kLayerMeasurements;
        viewport = std::make_unique<CViewport2D>(services);
        viewport->Create(window);
        viewport->SizeChanged(1024, 1024);
        viewport->AddImage(CFileRef(), *image, 0);
    }
};

MeasurementRecord Record(MeasurementKind kind, std::vector<ImagePoint> points) {
    MeasurementRecord record;
    record.kind = kind;
    record.points = std::move(points);
    return record;
}

void BM_LayoutAndDraw200(benchmark::State& state) {
    if (!EnsureGuiApplication()) return state.SkipWithError("no Qt Gui");
    std::vector<MeasurementRecord> records;
    for (int i = 0; i < 40; ++i) {
        const float x = float(20 + (i % 8) * 60), y = float(20 + (i / 8) * 95);
        records.push_back(Record(MeasurementKind::Length, {{x, y}, {x + 40, y + 10}}));
        records.push_back(Record(MeasurementKind::Ellipse, {{x, y + 15}, {x + 30, y + 35}}));
        records.push_back(Record(MeasurementKind::Angle, {{x, y + 40}, {x + 20, y + 55}, {x + 40, y + 40}}));
        records.push_back(Record(MeasurementKind::Cobb,
                                 {{x, y + 60}, {x + 40, y + 65}, {x, y + 80}, {x + 40, y + 70}}));
        std::vector<ImagePoint> pencil;
        for (int k = 0; k < 20; ++k) pencil.push_back({x + float(2 * k), y + 85 + float(k % 3)});
        records.push_back(Record(MeasurementKind::Pencil, pencil));
    }
    Rig rig(records);
    // A canvas per draw, as every compose makes one.
    for (auto _ : state) {
        auto canvas = rig.viewport->SurfaceCanvas();
        rig.viewport->Tool(ToolType::Measurements).Draw(*canvas, nullptr);
    }
}

void BM_PencilHover10000(benchmark::State& state) {
    // A spiral round the middle of the slice: its box holds the mouse, no point is near it.
    std::vector<ImagePoint> spiral;
    for (int k = 0; k < 10000; ++k) {
        const double t = k * 0.01, r = 60 + 0.012 * k;
        spiral.push_back({float(256 + r * std::cos(t)), float(256 + r * std::sin(t))});
    }
    Rig rig({Record(MeasurementKind::Pencil, spiral)});
    const auto centre = *rig.viewport->ImageToScreen(256, 256);
    auto list = rig.lists.Open(*rig.viewport, *rig.viewport->CurrentFrame());
    for (auto _ : state) benchmark::DoNotOptimize(list->MouseMove(centre.x, centre.y));
}

// For scale: the canvas a compose makes once for all its layers.
void BM_CanvasAlone(benchmark::State& state) {
    if (!EnsureGuiApplication()) return state.SkipWithError("no Qt Gui");
    Rig rig({});
    for (auto _ : state) benchmark::DoNotOptimize(rig.viewport->SurfaceCanvas());
}

BENCHMARK(BM_LayoutAndDraw200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CanvasAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PencilHover10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vexel

BENCHMARK_MAIN();
