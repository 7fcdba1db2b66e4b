// Ellipse region sums against a plain reference (every pixel tested by its centre, 64-bit
// sums), and against the mirrored frame: the region must be what the outline encloses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "imaging/ellipse_region.h"

namespace vexel {
namespace {

EllipseSums Reference(const std::vector<uint16_t>& words, int32_t columns, int32_t rows,
                      bool isSigned, const EllipseBox& box) {
    EllipseSums sums;
    const double cx = (box.x1 + box.x2) / 2, cy = (box.y1 + box.y2) / 2;
    const double a = std::fabs(box.x2 - box.x1) / 2, b = std::fabs(box.y2 - box.y1) / 2;
    if (!(a > 0 && b > 0)) return sums;
    for (int32_t y = 0; y < rows; ++y) {
        for (int32_t x = 0; x < columns; ++x) {
            const double dx = (x + 0.5 - cx) / a, dy = (y + 0.5 - cy) / b;
            if (dx * dx + dy * dy > 1) continue;
            const uint16_t w = words[size_t(y) * columns + x];
            const int32_t v = isSigned ? int32_t(int16_t(w)) : int32_t(w);
            sums.minimum = sums.count == 0 ? v : std::min(sums.minimum, v);
            sums.maximum = sums.count == 0 ? v : std::max(sums.maximum, v);
            sums.sum += v;
            ++sums.count;
        }
    }
    return sums;
}

void ExpectSame(const EllipseSums& got, const EllipseSums& want) {
    EXPECT_EQ(got.count, want.count);
    EXPECT_EQ(got.sum, want.sum);
    EXPECT_EQ(got.minimum, want.minimum);
    EXPECT_EQ(got.maximum, want.maximum);
}

TEST(EllipseRegion, MatchesThePlainCentreRuleAndItsMirror) {
    constexpr int32_t kColumns = 61, kRows = 47;
    std::mt19937 random(7);
    std::vector<uint16_t> words(size_t(kColumns) * kRows), mirrored(words.size());
    for (uint16_t& w : words) w = uint16_t(random());
    for (int32_t y = 0; y < kRows; ++y) {
        for (int32_t x = 0; x < kColumns; ++x)
            mirrored[size_t(y) * kColumns + x] = words[size_t(y) * kColumns + kColumns - 1 - x];
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<EllipseBox> boxes = {
        {10, 10, 20, 20},        // whole-pixel corners: centres fall exactly on the outline
        {20.5f, 5.25f, 3.75f, 30},  // corners in either order, fractional
        {-8, -6, 12, 9},         // partly outside, top-left
        {50, 40, 75, 60},        // partly outside, bottom-right
        {-100, -100, 200, 200},  // the whole frame and more
        {30.5f, 20.5f, 31.5f, 21.5f},  // one pixel
        {0, 0, 61, 47},          // inscribed in the frame
        {12, 10, 12, 30},        // zero semi-axis: empty
        {nan, 0, 10, 10},        // not finite: empty
        {1e30f, 0, -1e30f, 10},  // absurdly wide
    };
    for (bool isSigned : {false, true}) {
        for (const EllipseBox& box : boxes) {
            SCOPED_TRACE(testing::Message() << box.x1 << "," << box.y1 << " " << box.x2 << ","
                                            << box.y2 << (isSigned ? " signed" : ""));
            const EllipseSums got = SumEllipse(words.data(), kColumns, kRows, isSigned, box);
            ExpectSame(got, Reference(words, kColumns, kRows, isSigned, box));
            if (std::isnan(box.x1) || std::fabs(box.x1) > 1e6f) continue;
            const EllipseBox mirror{kColumns - box.x1, box.y1, kColumns - box.x2, box.y2};
            ExpectSame(SumEllipse(mirrored.data(), kColumns, kRows, isSigned, mirror), got);
        }
    }
}

}  // namespace
}  // namespace vexel
