// The tiled transposition and the streamed copy against a plain loop: every size around the
// 8 x 8 tile (whole tiles, edges of 1 to 7 rows or columns), signed and unsigned values, as
// they are and converted to floats.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "volume/stream_copy.h"
#include "volume/word_transpose.h"

namespace vexel {
namespace {

template <typename T, typename D>
void ExpectPlainTransposition(uint32_t rows, uint32_t columns, float a, float b) {
    const size_t srcStride = columns + 3, dstStride = rows + 5;
    std::vector<T> src(rows * srcStride);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = T(i * 40503u + 12345u);  // all 16 bits vary, so both signs occur
    std::vector<D> dst(columns * dstStride, D(7)), expected = dst;
    for (uint32_t r = 0; r < rows; ++r)
        for (uint32_t c = 0; c < columns; ++c) {
            const T v = src[r * srcStride + c];
            if constexpr (std::is_same_v<T, D>)
                expected[c * dstStride + r] = v;
            else
                expected[c * dstStride + r] = float(v) * a + b;
        }
    TransposeWords(src.data(), srcStride, rows, columns, dst.data(), dstStride, a, b);
    ASSERT_EQ(dst, expected) << rows << " x " << columns;  // the padding left as it was too
}

TEST(WordTranspose, MatchesAPlainLoopAtEverySizeAroundTheTile) {
    for (uint32_t rows : {1u, 7u, 8u, 9u, 16u, 23u, 84u})
        for (uint32_t columns : {1u, 5u, 8u, 15u, 16u, 33u}) {
            ExpectPlainTransposition<uint16_t, uint16_t>(rows, columns, 1, 0);
            ExpectPlainTransposition<int16_t, int16_t>(rows, columns, 1, 0);
            ExpectPlainTransposition<uint16_t, float>(rows, columns, 0.5f, -1024.f);
            ExpectPlainTransposition<int16_t, float>(rows, columns, 2.f, 3.25f);
        }
}

TEST(StreamCopy, CopiesEveryByteWhateverTheAlignment) {
    std::vector<uint8_t> src(300);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = uint8_t(i * 7 + 1);
    for (size_t offset : {0u, 1u, 8u, 15u})
        for (size_t bytes : {0u, 1u, 15u, 16u, 17u, 100u, 255u}) {
            std::vector<uint8_t> dst(300, 0);
            StreamCopy(dst.data() + offset, src.data() + 3, bytes);
            EndStreaming();
            for (size_t i = 0; i < dst.size(); ++i) {
                const bool inside = i >= offset && i < offset + bytes;
                ASSERT_EQ(dst[i], inside ? src[i - offset + 3] : 0) << offset << " " << bytes;
            }
        }
}

}  // namespace
}  // namespace vexel
