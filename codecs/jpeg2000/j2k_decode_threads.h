// How many of OpenJPEG's own threads decode one frame.
#pragma once

#include <cstdint>

namespace vexel::codec {

// Frames of at least this many pixels are decoded with OpenJPEG's thread pool: below it,
// starting the pool costs more than it saves, and the viewer already decodes the frames of
// different files in parallel.
constexpr uint64_t kThreadedDecodePixels = 1000000;
// At most this many threads per frame, however many processors there are.
constexpr uint32_t kMaxDecodeThreads = 8;

// Pixels of the image area from the SIZ marker (ISO/IEC 15444-1 A.5.1) of a codestream or of
// a JP2 file's contiguous codestream box; 0 when the bytes do not say.
uint64_t ImageAreaFromHeader(const uint8_t* data, uint64_t size);

// False when the SIZ marker asks for more tiles than the codestream has room for: every tile
// needs at least one tile-part (SOT and SOD, 14 bytes). OpenJPEG 2.5 sets up every tile
// while reading the header, which took seconds for a 50-byte stream claiming 24,577 tiles.
bool HasRoomForEveryTile(const uint8_t* data, uint64_t size);

// 0 (decode on the caller's thread) for small or unreadable frames, else the number of
// processors this process may run on, bounded by kMaxDecodeThreads (0 if that is one).
uint32_t DecodeThreadsFor(const uint8_t* data, uint64_t size);

}  // namespace vexel::codec
