#pragma once

// Copies into memory that is read again only much later, past the caches: streaming stores
// write whole cache lines without first reading them in, which halves the memory traffic of
// filling a large buffer.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexel {

// Streaming stores are not ordered with other stores: EndStreaming() must follow the last
// copy before another thread may read what was copied.
inline void StreamCopy(void* dst, const void* src, size_t bytes) {
#if defined(__SSE2__)
    auto* to = static_cast<uint8_t*>(dst);
    const auto* from = static_cast<const uint8_t*>(src);
    const size_t head = std::min(bytes, size_t(-reinterpret_cast<uintptr_t>(to) & 15));
    std::memcpy(to, from, head);
    size_t done = head;
    for (; done + 16 <= bytes; done += 16)
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + done),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + done)));
    std::memcpy(to + done, from + done, bytes - done);
#else
    std::memcpy(dst, src, bytes);
#endif
}

inline void EndStreaming() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

}  // namespace vexel
