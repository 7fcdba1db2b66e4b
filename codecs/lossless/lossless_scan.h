// The entropy-coded part of one lossless scan (T.81 H.1.2): Huffman-coded differences,
// prediction, restart intervals. Samples are written without the point transform.
#pragma once

#include <cstddef>
#include <cstdint>

#include "huffman_table.h"

namespace vexel {

struct LosslessScan {
    int predictor = 1;          // 1 to 7
    int initialPrediction = 0;  // 2^(P - Pt - 1)
    uint32_t rows = 0;
    uint32_t columns = 0;
    uint32_t restartInterval = 0;  // in MCUs (samples per component); 0 for none
    int componentCount = 0;        // 1 to 4, interleaved when more than 1
    uint16_t* planes[4] = {};      // rows x columns each
    const CHuffmanTable* tables[4] = {};
};

// Decodes from *position (the first byte after the scan header); on success *position is
// the first byte after the scan's data. VEXEL_CODEC_CORRUPT for a bad code, truncated data
// or a missing restart marker; VEXEL_CODEC_UNSUPPORTED for restart intervals that do not
// cover whole rows.
int32_t DecodeLosslessScan(const uint8_t* data, size_t size, size_t* position,
                           const LosslessScan& scan);

}  // namespace vexel
