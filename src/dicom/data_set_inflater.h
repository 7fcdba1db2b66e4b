// Inflation of the data set of a Deflated Explicit VR Little Endian file (PS3.5 A.5).
#pragma once

#include <cstdint>
#include <vector>

namespace vexel {

class CByteStream;

// Largest inflated data set accepted: a small hostile file must not claim all memory.
inline constexpr uint64_t kMaxInflatedSize = uint64_t{1} << 30;

// Inflates the raw deflate stream from the stream's position to its end into out.
bool InflateDataSet(CByteStream& stream, std::vector<uint8_t>& out);

}  // namespace vexel
