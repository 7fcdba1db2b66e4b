// The resampler of the 2D viewport: a 512 x 512 16-bit CT frame into a 1024 x 1024
// destination (bilinear enlargement), with both stages as a window change does and with
// stage 2 alone as a pan does, on one thread and on two; and a plain copy of the 4 MiB
// bitmap for scale. Goal: both stages under 4 ms on 2 cores.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "phantom/phantom_writer.h"
#include "viewer/display_lut.h"
#include "viewer/resampler.h"
#include "viewer/view_geometry.h"

namespace vexel {
namespace {

constexpr int kSide = 512;
constexpr int kViewport = 1024;

const std::vector<int16_t>& CtSlice() {
    static const std::vector<int16_t> slice = [] {
        phantom::PhantomOptions options;
        options.columns = kSide;
        options.rows = kSide;
        options.slices = 3;
        return phantom::CtSliceStored(options, 1);
    }();
    return slice;
}

ResampleSource CtSource() {
    ResampleSource source;
    source.samples = reinterpret_cast<const uint8_t*>(CtSlice().data());
    source.size = CtSlice().size() * 2;
    source.width = source.height = kSide;
    source.isSigned = true;
    source.slope = 1;
    source.intercept = -1024;
    return source;
}

ViewGeometry FittedView() {
    ViewGeometry g;
    SetImageSize(g, kSide, kSide);
    SetViewportSize(g, kViewport, kViewport);
    LayoutFit(g);
    return g;
}

// Alternates two windows: stage 1 and stage 2 on every frame.
void BM_BothStages(benchmark::State& state) {
    const ResampleSource source = CtSource();
    CDisplayLUT brain, bone;
    brain.SetWindow(40, 80, false, true);
    bone.SetWindow(300, 1500, false, true);
    CResampler resampler(uint32_t(state.range(0)));
    resampler.SetGeometry(FittedView());
    std::vector<uint32_t> bitmap(size_t(kViewport) * kViewport);
    const DestinationBitmap destination{bitmap.data(), kViewport, kViewport, kViewport};
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        benchmark::DoNotOptimize(
            resampler.RenderSamples(source, "ct", destination, flip ? brain : bone, false));
        benchmark::ClobberMemory();
    }
    state.counters["stage1_runs"] = double(resampler.Stage1Runs());
}

// Alternates two pan positions of a 2x view: new tables and stage 2 only.
void BM_Stage2Pan(benchmark::State& state) {
    const ResampleSource source = CtSource();
    CDisplayLUT lut;
    lut.SetWindow(40, 80, false, true);
    CResampler resampler(uint32_t(state.range(0)));
    const ViewGeometry fitted = FittedView();
    ViewGeometry left = fitted, right = fitted;
    LayoutPan(left, fitted, -1, 0);
    LayoutPan(right, fitted, 1, 0);
    std::vector<uint32_t> bitmap(size_t(kViewport) * kViewport);
    const DestinationBitmap destination{bitmap.data(), kViewport, kViewport, kViewport};
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        resampler.SetGeometry(flip ? left : right);
        benchmark::DoNotOptimize(resampler.RenderSamples(source, "ct", destination, lut, false));
        benchmark::ClobberMemory();
    }
    state.counters["stage1_runs"] = double(resampler.Stage1Runs());
}

// The floor: copying the finished 4 MiB bitmap once.
void BM_CopyBitmap(benchmark::State& state) {
    std::vector<uint32_t> from(size_t(kViewport) * kViewport, 0x00404040u);
    std::vector<uint32_t> to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size() * sizeof(uint32_t));
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_BothStages)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage2Pan)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyBitmap)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vexel

BENCHMARK_MAIN();
