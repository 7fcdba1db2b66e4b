// A plain lossless JPEG encoder (T.81 Annex H, written for clarity, not speed) for streams
// DCMTK's encoder never writes: restart intervals, separate scans per component, point
// transforms on chosen data, long Huffman codes, precision 2, the difference 32768. The
// expected decode is the input image itself.
#pragma once

#include <cstdint>
#include <vector>

namespace vexel::test {

struct LosslessEncodeOptions {
    int precision = 16;
    int predictor = 1;
    int pointTransform = 0;      // samples must already be multiples of 2^pt
    int restartRows = 0;         // restart interval in whole rows, 0 for none
    bool separateScans = false;  // one scan per component instead of one interleaved scan
    bool longCodes = false;      // every non-zero category gets a 16-bit code
};

// samples: components planes of rows x columns values below 2^precision.
std::vector<uint8_t> EncodeLosslessJpeg(const std::vector<uint16_t>& samples, int rows, int columns,
                                        int components, const LosslessEncodeOptions& options);

}  // namespace vexel::test
