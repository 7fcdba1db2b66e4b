// Stage 2 of the resampler for one band of destination rows: the intermediate image through
// the two axis tables into 0x00RRGGBB words. Separable: each destination row first blends
// its source rows into a float row, then blends along that row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "viewer/resampler_tables.h"

namespace vexel {

struct ScaleJob {
    const uint8_t* source = nullptr;  // intermediate image
    int32_t sourceWidth = 0;          // pixels per intermediate row
    int32_t channels = 0;             // 1 (grey level) or 4 (blue, green, red, 0)
    const AxisTaps* columns = nullptr;
    const AxisTaps* rows = nullptr;
    uint32_t* dest = nullptr;  // row 0 of the visible destination
    size_t destStride = 0;     // pixels per destination row
};

// Floats the accumulator of one thread needs.
size_t AccumulatorSize(const ScaleJob& job);
// Destination rows first..last (inclusive); `accumulator` holds AccumulatorSize floats.
void ScaleRows(const ScaleJob& job, int32_t first, int32_t last, float* accumulator);

}  // namespace vexel
