#pragma once

// Transposing 16-bit values in 8 x 8 tiles held in registers. A column gather done value by
// value costs one store per value; a tile costs 8 loads, 24 shuffles and 8 stores for 64.

#include <cstddef>
#include <cstdint>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexel {

// Value v of source row i, column c goes to dst[c * dstStride + i] as convert(v), for
// rows x columns values. T is uint16_t or int16_t; D is T (the value itself) or float
// (v x a + b, computed in float).
template <typename T, typename D>
void TransposeWords(const T* src, size_t srcStride, uint32_t rows, uint32_t columns, D* dst,
                    size_t dstStride, float a = 1, float b = 0) {
    static_assert(std::is_same_v<T, uint16_t> || std::is_same_v<T, int16_t>);
    constexpr bool kStored = std::is_same_v<T, D>;
    const auto convert = [a, b](T v) {
        if constexpr (kStored)
            return v;
        else
            return float(v) * a + b;
    };
    uint32_t i = 0;
#if defined(__SSE2__)
    // Rows this far ahead are fetched early: rows 1 KB or more apart are not fetched ahead by
    // the hardware.
    constexpr uint32_t kAhead = 16;
    const __m128 scale = _mm_set1_ps(a), bias = _mm_set1_ps(b);
    const auto store = [&](__m128i words, D* out) {
        if constexpr (kStored) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), words);
        } else {
            const bool isSigned = std::is_signed_v<T>;
            const __m128i low = isSigned ? _mm_srai_epi32(_mm_unpacklo_epi16(words, words), 16)
                                         : _mm_unpacklo_epi16(words, _mm_setzero_si128());
            const __m128i high = isSigned ? _mm_srai_epi32(_mm_unpackhi_epi16(words, words), 16)
                                          : _mm_unpackhi_epi16(words, _mm_setzero_si128());
            _mm_storeu_ps(out, _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(low), scale), bias));
            _mm_storeu_ps(out + 4, _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(high), scale), bias));
        }
    };
    for (; i + 8 <= rows; i += 8) {
        const T* row = src + i * srcStride;
        if (i + kAhead < rows) {
            for (uint32_t q = 0; q < 8; ++q) {
                const char* ahead = reinterpret_cast<const char*>(row + (kAhead + q) * srcStride);
                for (size_t byte = 0; byte < columns * sizeof(T); byte += 64)
                    __builtin_prefetch(ahead + byte);
            }
        }
        uint32_t c = 0;
        for (; c + 8 <= columns; c += 8) {
            __m128i r[8];
            for (uint32_t q = 0; q < 8; ++q)
                r[q] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + q * srcStride + c));
            // Pairs of rows interleaved by 16, 32 and 64 bits: column q ends in register q.
            const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
            const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
            const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
            const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
            const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
            const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
            const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
            const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
            D* out = dst + c * dstStride + i;
            store(_mm_unpacklo_epi64(b0, b4), out);
            store(_mm_unpackhi_epi64(b0, b4), out + dstStride);
            store(_mm_unpacklo_epi64(b1, b5), out + 2 * dstStride);
            store(_mm_unpackhi_epi64(b1, b5), out + 3 * dstStride);
            store(_mm_unpacklo_epi64(b2, b6), out + 4 * dstStride);
            store(_mm_unpackhi_epi64(b2, b6), out + 5 * dstStride);
            store(_mm_unpacklo_epi64(b3, b7), out + 6 * dstStride);
            store(_mm_unpackhi_epi64(b3, b7), out + 7 * dstStride);
        }
        for (; c < columns; ++c)
            for (uint32_t q = 0; q < 8; ++q)
                dst[c * dstStride + i + q] = convert(row[q * srcStride + c]);
    }
#endif
    for (; i < rows; ++i)
        for (uint32_t c = 0; c < columns; ++c)
            dst[c * dstStride + i] = convert(src[i * srcStride + c]);
}

}  // namespace vexel
