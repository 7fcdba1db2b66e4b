// Frames for the benchmarks that time our decoding: a noisy phantom CT slice and its lossless
// JPEG 2000 codestream made by OpenJPEG.
#pragma once

#include <cstdint>
#include <vector>

namespace vexel::bench {

// A size x size phantom CT slice offset to unsigned values, with a deterministic noise of a
// few units as a scanner gives (the bare phantom is flat and compresses unrealistically well).
std::vector<uint16_t> NoisyCtSlice(uint32_t size);

// Lossless (5/3 wavelet) with OpenJPEG's default parameters, J2K codestream; empty when
// OpenJPEG fails.
std::vector<uint8_t> EncodeJ2kLossless(const std::vector<uint16_t>& samples, uint32_t columns,
                                       uint32_t rows);

}  // namespace vexel::bench
