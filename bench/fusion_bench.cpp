// The fused overlay's share of a frame: a 200 x 200 PET overlay (2.6 mm pixels) mapped through
// patient geometry and blended over a 512 x 512 CT picture (0.7 mm pixels). Goal, with the
// viewport's own rendering: fusion adds under 2 ms.
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/parallel_thread_pool.h"
#include "volume/fusion_overlay.h"

namespace vexel {
namespace {

PlaneGeometry Plane(double spacing, uint32_t size) {
    PlaneGeometry p;
    p.row = {1, 0, 0};
    p.column = {0, 1, 0};
    p.rowSpacing = p.columnSpacing = spacing;
    p.columns = p.rows = size;
    const double half = spacing * (size - 1) / 2;
    p.position = {-half, -half, 0};
    return p;
}

void BM_BlendOverlay(benchmark::State& state) {
    const CFusionColourTable table;
    const PlaneGeometry base = Plane(0.7, 512), overlay = Plane(2.6, 200);
    std::vector<float> values(200 * 200);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = float(i % 200) * 50;  // a ramp across the whole window
    std::vector<uint32_t> picture(512 * 512, 0x404040);
    const auto mapping = MapBaseToOverlay(base, overlay);
    for (auto _ : state) {
        BlendOverlay(*mapping, {values.data(), 200, 200}, 0, 10000, table, picture.data(), 512,
                     512);
        benchmark::DoNotOptimize(picture.data());
    }
}
BENCHMARK(BM_BlendOverlay)->Unit(benchmark::kMillisecond);

// The same in bands of 16 rows on two threads, as the viewport's resampling pool runs it.
void BM_BlendOverlayTwoThreads(benchmark::State& state) {
    const CFusionColourTable table;
    const PlaneGeometry base = Plane(0.7, 512), overlay = Plane(2.6, 200);
    std::vector<float> values(200 * 200);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = float(i % 200) * 50;
    std::vector<uint32_t> picture(512 * 512, 0x404040);
    const auto mapping = MapBaseToOverlay(base, overlay);
    CParallelThreadPool pool(2);
    for (auto _ : state) {
        pool.ParallelFor(
            [&](uint32_t first, uint32_t last) {
                BlendOverlay(*mapping, {values.data(), 200, 200}, 0, 10000, table, picture.data(),
                             512, 512, first, last + 1);
            },
            512);
        benchmark::DoNotOptimize(picture.data());
    }
}
BENCHMARK(BM_BlendOverlayTwoThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vexel

BENCHMARK_MAIN();
