// Frames for the benchmarks that time our decoding: a noisy phantom CT slice and its lossless
// JPEG 2000 codestream made by OpenJPEG.
#pragma once

#include <cstdint>
#include <vector>

#include "vexel_codec.h"

namespace vexel::bench {

// A size x size phantom CT slice offset to unsigned values, with a deterministic noise of a
// few units as a scanner gives (the bare phantom is flat and compresses unrealistically well).
std::vector<uint16_t> NoisyCtSlice(uint32_t size);

// Lossless (5/3 wavelet) with OpenJPEG's default parameters, J2K codestream; empty when
// OpenJPEG fails.
std::vector<uint8_t> EncodeJ2kLossless(const std::vector<uint16_t>& samples, uint32_t columns,
                                       uint32_t rows);

using CodecDecode = int32_t (*)(VexelDecodeRequest*);

// DecompressJPEGEx of libvexel-<name>.so beside the benchmark (kept loaded for the run);
// null when the module is missing.
CodecDecode LoadCodecModule(const char* name);

// One size x size greyscale frame into output (2 bytes a sample); true when it decoded.
bool DecodeGreyFrame(CodecDecode decode, const std::vector<uint8_t>& stream, uint32_t size,
                     std::vector<uint8_t>& output);

}  // namespace vexel::bench
