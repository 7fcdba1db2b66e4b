#include "viewer/resampler_scale.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

namespace vexel {
namespace {

// Colour pixels as four floats in one SSE2 register (x86-64 always has SSE2). Each lane does
// the scalar code's operations in the same order, so the results are the same to the bit.
__m128 Widen(const uint8_t* pixel) {
    int32_t word;
    std::memcpy(&word, pixel, 4);
    const __m128i zero = _mm_setzero_si128();
    return _mm_cvtepi32_ps(
        _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(word), zero), zero));
}

// Round half up and clamp to 255, as Pack does; the fourth channel is left out.
uint32_t Narrow(__m128 sums) {
    const __m128i levels = _mm_cvttps_epi32(_mm_add_ps(sums, _mm_set1_ps(0.5f)));
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(levels, levels), levels);
    return uint32_t(_mm_cvtsi128_si32(bytes)) & 0x00FFFFFFu;
}

template <int C>
uint32_t Pack(const float* sums) {
    // Weights sum to 1, so only rounding can pass 255; it must not wrap to black.
    const auto level = [](float v) { return std::min(uint32_t(v + 0.5f), 255u); };
    if constexpr (C == 1) {
        return level(sums[0]) * 0x010101u;
    } else {
        return level(sums[0]) | level(sums[1]) << 8 | level(sums[2]) << 16;
    }
}

template <int C>
void BlendRows(const ScaleJob& job, int32_t row, float* acc) {
    const AxisTaps& rows = *job.rows;
    const AxisTaps& columns = *job.columns;
    const size_t span = size_t(columns.highest - columns.lowest + 1) * C;
    const uint32_t begin = rows.first[size_t(row)], end = rows.first[size_t(row) + 1];
    for (uint32_t t = begin; t < end; ++t) {
        const size_t offset = (size_t(rows.index[t]) * size_t(job.sourceWidth) + columns.lowest);
        const uint8_t* src = job.source + offset * C;
        const float w = rows.weight[t];
        if (t == begin) {
            for (size_t k = 0; k < span; ++k)
                acc[k] = w * float(src[k]);
        } else {
            for (size_t k = 0; k < span; ++k)
                acc[k] += w * float(src[k]);
        }
    }
}

template <int C>
void BlendTwoColumns(const AxisTaps& columns, const float* acc, uint32_t* out) {
    const size_t count = columns.first.size() - 1;
    const uint32_t* index = columns.index.data();
    const float* weight = columns.weight.data();
    for (size_t i = 0; i < count; ++i) {
        const float* a = acc + size_t(index[2 * i] - columns.lowest) * C;
        const float* b = acc + size_t(index[2 * i + 1] - columns.lowest) * C;
        const float w0 = weight[2 * i], w1 = weight[2 * i + 1];
        float sums[C];
        for (int c = 0; c < C; ++c)
            sums[c] = w0 * a[c] + w1 * b[c];
        out[i] = Pack<C>(sums);
    }
}

template <int C>
void BlendColumns(const AxisTaps& columns, const float* acc, uint32_t* out) {
    if (columns.tapsPerPixel == 2) {
        BlendTwoColumns<C>(columns, acc, out);
        return;
    }
    const size_t count = columns.first.size() - 1;
    for (size_t i = 0; i < count; ++i) {
        float sums[C] = {};
        for (uint32_t t = columns.first[i]; t < columns.first[i + 1]; ++t) {
            const float* a = acc + size_t(columns.index[t] - columns.lowest) * C;
            for (int c = 0; c < C; ++c)
                sums[c] += columns.weight[t] * a[c];
        }
        out[i] = Pack<C>(sums);
    }
}

// Zoom 1: the intermediate's pixels as they are.
void CopyRows(const ScaleJob& job, int32_t first, int32_t last) {
    const AxisTaps& columns = *job.columns;
    const size_t count = columns.first.size() - 1;
    for (int32_t row = first; row <= last; ++row) {
        const size_t sourceRow = size_t(job.rows->index[size_t(row)]) * size_t(job.sourceWidth);
        uint32_t* out = job.dest + size_t(row) * job.destStride;
        if (job.channels == 1) {
            const uint8_t* src = job.source + sourceRow;
            for (size_t i = 0; i < count; ++i)
                out[i] = uint32_t(src[columns.index[i]]) * 0x010101u;
        } else {
            const auto* src = reinterpret_cast<const uint32_t*>(job.source) + sourceRow;
            for (size_t i = 0; i < count; ++i)
                out[i] = src[columns.index[i]];
        }
    }
}

template <int C>
void FilterRows(const ScaleJob& job, int32_t first, int32_t last, float* acc) {
    for (int32_t row = first; row <= last; ++row) {
        BlendRows<C>(job, row, acc);
        BlendColumns<C>(*job.columns, acc, job.dest + size_t(row) * job.destStride);
    }
}

bool Enlarging(const ScaleJob& job) {
    return job.columns->tapsPerPixel == 2 && job.rows->tapsPerPixel == 2;
}

// Source row `row` enlarged along the row: two taps per destination column.
template <int C>
void EnlargeAlongRow(const ScaleJob& job, uint32_t row, float* line) {
    const AxisTaps& columns = *job.columns;
    const size_t count = columns.first.size() - 1;
    const uint8_t* src = job.source + size_t(row) * size_t(job.sourceWidth) * C;
    const uint32_t* index = columns.index.data();
    const float* weight = columns.weight.data();
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* a = src + size_t(index[2 * i]) * C;
        const uint8_t* b = src + size_t(index[2 * i + 1]) * C;
        if constexpr (C == 4) {
            _mm_storeu_ps(line + i * C,
                          _mm_add_ps(_mm_mul_ps(_mm_set1_ps(weight[2 * i]), Widen(a)),
                                     _mm_mul_ps(_mm_set1_ps(weight[2 * i + 1]), Widen(b))));
        } else {
            for (int c = 0; c < C; ++c)
                line[i * C + size_t(c)] =
                    weight[2 * i] * float(a[c]) + weight[2 * i + 1] * float(b[c]);
        }
    }
}

// Enlarging: each source row is enlarged along the row once, and every destination row blends
// the two it lies between. Neighbouring destination rows share their source rows, so the
// gathers along the row run once per source row, not once per destination row (a quarter as
// often at a zoom of 4); the blend down the rows runs over contiguous floats.
template <int C>
void EnlargeRows(const ScaleJob& job, int32_t first, int32_t last, float* lines) {
    const AxisTaps& rows = *job.rows;
    const size_t count = job.columns->first.size() - 1;
    float* const slot[2] = {lines, lines + count * C};
    int64_t held[2] = {-1, -1};
    // The slot holding source row `row`, filled when needed in the slot that `keep` is not in.
    const auto line = [&](uint32_t row, uint32_t keep) {
        for (int k = 0; k < 2; ++k)
            if (held[k] == int64_t(row)) return slot[k];
        const int k = held[0] == int64_t(keep) ? 1 : 0;
        EnlargeAlongRow<C>(job, row, slot[k]);
        held[k] = row;
        return slot[k];
    };
    for (int32_t row = first; row <= last; ++row) {
        const uint32_t t = rows.first[size_t(row)];
        const uint32_t r0 = rows.index[t], r1 = rows.index[t + 1];
        const float w0 = rows.weight[t], w1 = rows.weight[t + 1];
        const float* a = line(r0, r1);
        const float* b = line(r1, r0);
        uint32_t* out = job.dest + size_t(row) * job.destStride;
        if constexpr (C == 4) {
            const __m128 v0 = _mm_set1_ps(w0), v1 = _mm_set1_ps(w1);
            for (size_t i = 0; i < count; ++i)
                out[i] = Narrow(_mm_add_ps(_mm_mul_ps(v0, _mm_loadu_ps(a + i * C)),
                                           _mm_mul_ps(v1, _mm_loadu_ps(b + i * C))));
            continue;
        }
        for (size_t i = 0; i < count; ++i) {
            float sums[C];
            for (int c = 0; c < C; ++c)
                sums[c] = w0 * a[i * C + size_t(c)] + w1 * b[i * C + size_t(c)];
            out[i] = Pack<C>(sums);
        }
    }
}

}  // namespace

size_t AccumulatorSize(const ScaleJob& job) {
    if (job.columns == nullptr || job.columns->index.empty()) return 0;
    if (job.rows != nullptr && Enlarging(job))
        return 2 * (job.columns->first.size() - 1) * size_t(job.channels);
    return size_t(job.columns->highest - job.columns->lowest + 1) * size_t(job.channels);
}

void ScaleRows(const ScaleJob& job, int32_t first, int32_t last, float* accumulator) {
    if (job.columns->tapsPerPixel == 1 && job.rows->tapsPerPixel == 1) {
        CopyRows(job, first, last);
    } else if (Enlarging(job)) {
        if (job.channels == 1) {
            EnlargeRows<1>(job, first, last, accumulator);
        } else {
            EnlargeRows<4>(job, first, last, accumulator);
        }
    } else if (job.channels == 1) {
        FilterRows<1>(job, first, last, accumulator);
    } else {
        FilterRows<4>(job, first, last, accumulator);
    }
}

}  // namespace vexel
