// A full rebuild of the display tables (131,072 grey and 131,072 byte entries), as every
// mouse move of a window drag does. Goal: under 150 us.
#include <benchmark/benchmark.h>

#include "viewer/display_lut.h"

namespace vexel {
namespace {

// Alternates between two windows of the given width so that every call rebuilds.
void RebuildTables(benchmark::State& state, float centre, float width) {
    CDisplayLUT lut;
    float shift = 0;
    for (auto _ : state) {
        shift = shift == 0 ? 1 : 0;
        benchmark::DoNotOptimize(lut.SetWindow(centre + shift, width, false, false));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(CDisplayLUT::kEntries));
}

// CT Brain: almost every entry is a fill; the middle is 80 entries.
void BM_RebuildBrainWindow(benchmark::State& state) {
    RebuildTables(state, 40, 80);
}
// The whole table inside the window: every entry is computed.
void BM_RebuildWholeTableWindow(benchmark::State& state) {
    RebuildTables(state, 0, 131072);
}
// PET opening window, 20,000 computed entries.
void BM_RebuildPetWindow(benchmark::State& state) {
    RebuildTables(state, 10000, 20000);
}

BENCHMARK(BM_RebuildBrainWindow)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RebuildWholeTableWindow)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RebuildPetWindow)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vexel

BENCHMARK_MAIN();
