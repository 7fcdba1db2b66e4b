// A lossless JPEG 2000 codestream of 16-bit greyscale samples, made by OpenJPEG, for the
// benchmarks that time our decoding.
#pragma once

#include <cstdint>
#include <vector>

namespace vexel::bench {

// Lossless (5/3 wavelet) with OpenJPEG's default parameters, J2K codestream; empty when
// OpenJPEG fails.
std::vector<uint8_t> EncodeJ2kLossless(const std::vector<uint16_t>& samples, uint32_t columns,
                                       uint32_t rows);

}  // namespace vexel::bench
