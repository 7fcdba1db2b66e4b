// One reference line: the intersection of an axial and a coronal plane, cut to the image.
// Goal: under 10 microseconds.
#include <benchmark/benchmark.h>

#include "volume/plane_geometry.h"

namespace {

vexel::PlaneGeometry Plane(vexel::Vector3 position, vexel::Vector3 row, vexel::Vector3 column) {
    vexel::PlaneGeometry plane;
    plane.position = position;
    plane.row = row;
    plane.column = column;
    plane.rowSpacing = plane.columnSpacing = 0.7;
    plane.rows = plane.columns = 512;
    plane.studyUid = "1.2.840.113619.2.55.3.604688119.868.1249343483.504";
    plane.frameOfReferenceUid = "1.2.840.113619.2.55.3.604688119.868.1249343483.507";
    return plane;
}

void BM_ReferenceLine(benchmark::State& state) {
    const auto axial = Plane({-179, -179, 12.5}, {1, 0, 0}, {0, 1, 0});
    const auto coronal = Plane({-179, 3, 179}, {1, 0, 0}, {0, 0, -1});
    for (auto _ : state) benchmark::DoNotOptimize(vexel::ReferenceLine(axial, coronal));
}
BENCHMARK(BM_ReferenceLine)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
