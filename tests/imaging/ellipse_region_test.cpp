// Ellipse region sums: regions that are whole rows or nothing, every region equal to a plain
// sum over the pixels whose centres lie inside and to its mirror on the mirrored frame, which
// only the centre rule gives. (The sums of real CT and
// MR regions are compared with numpy in the command's tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "imaging/ellipse_region.h"

namespace vexel {
namespace {

TEST(EllipseRegion, WholeRowsNothingAndMirrors) {
    constexpr int32_t kColumns = 61, kRows = 47;
    std::mt19937 random(7);
    std::vector<uint16_t> words(size_t(kColumns) * kRows), mirrored(words.size());
    for (uint16_t& w : words) w = uint16_t(random());
    for (size_t i = 0; i < words.size(); ++i)
        mirrored[i] = words[i - i % kColumns + kColumns - 1 - i % kColumns];
    for (bool isSigned : {false, true}) {
        SCOPED_TRACE(isSigned ? "signed" : "unsigned");
        const auto value = [&](size_t i) { return isSigned ? int32_t(int16_t(words[i])) : int32_t(words[i]); };
        // Far wider than the frame: rows 0 to 9 whole.
        const EllipseSums rows = SumEllipse(words.data(), kColumns, kRows, isSigned, {1e30f, 0, -1e30f, 10});
        int64_t sum = 0;
        for (size_t i = 0; i < size_t(kColumns) * 10; ++i) sum += value(i);
        EXPECT_EQ(rows.count, uint32_t(kColumns * 10));
        EXPECT_EQ(rows.sum, sum);
        const float nan = std::numeric_limits<float>::quiet_NaN();
        for (const EllipseBox& empty : {EllipseBox{12, 10, 12, 30}, EllipseBox{nan, 0, 10, 10},
                                        EllipseBox{70, 60, 90, 80}}) {
            EXPECT_EQ(SumEllipse(words.data(), kColumns, kRows, isSigned, empty).count, 0u);
        }
        for (const EllipseBox& box : {EllipseBox{10, 10, 20, 20}, EllipseBox{20.5f, 5.25f, 3.75f, 30},
                                      EllipseBox{-8, -6, 12, 9}, EllipseBox{50, 40, 75, 60},
                                      EllipseBox{30, 20, 31, 21}, EllipseBox{0, 0, 61, 47}}) {
            SCOPED_TRACE(testing::Message() << box.x1 << "," << box.y1 << " " << box.x2 << "," << box.y2);
            const EllipseSums got = SumEllipse(words.data(), kColumns, kRows, isSigned, box);
            const EllipseSums mirror = SumEllipse(mirrored.data(), kColumns, kRows, isSigned,
                                                  {kColumns - box.x1, box.y1, kColumns - box.x2, box.y2});
            EXPECT_GT(got.count, 0u);
            // Every pixel of the frame, tested by its centre, summed plainly.
            const double cx = (box.x1 + box.x2) / 2, cy = (box.y1 + box.y2) / 2;
            const double a = std::fabs(box.x2 - box.x1) / 2, b = std::fabs(box.y2 - box.y1) / 2;
            uint32_t count = 0;
            int64_t plain = 0;
            for (int32_t y = 0; y < kRows; ++y)
                for (int32_t x = 0; x < kColumns; ++x)
                    if (std::pow((x + 0.5 - cx) / a, 2) + std::pow((y + 0.5 - cy) / b, 2) <= 1) {
                        ++count;
                        plain += value(size_t(y) * kColumns + size_t(x));
                    }
            EXPECT_EQ(std::tie(got.count, got.sum), std::tie(count, plain));
            EXPECT_EQ(std::tie(got.count, got.sum, got.minimum, got.maximum, got.sumOfSquares),
                      std::tie(mirror.count, mirror.sum, mirror.minimum, mirror.maximum, mirror.sumOfSquares));
        }
    }
}

}  // namespace
}  // namespace vexel
