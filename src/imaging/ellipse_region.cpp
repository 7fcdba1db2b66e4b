#include "imaging/ellipse_region.h"

#include <algorithm>
#include <cmath>

namespace vexel {
namespace {

struct Shape {
    double cx, cy, a, b;
};

Shape ShapeOf(const EllipseBox& box) {
    return {double((box.x1 + box.x2) / 2), double((box.y1 + box.y2) / 2),
            double(std::fabs(box.x2 - box.x1) / 2), double(std::fabs(box.y2 - box.y1) / 2)};
}

bool Inside(const Shape& s, int32_t x, int32_t y) {
    const double dx = (double(x) + 0.5 - s.cx) / s.a;
    const double dy = (double(y) + 0.5 - s.cy) / s.b;
    return dx * dx + dy * dy <= 1.0;
}

// A pixel index near `value`, kept within [-1, limit] before the conversion.
int32_t Index(double value, int32_t limit) {
    return int32_t(std::clamp(value, -1.0, double(limit)));
}

template <class Sample>
void SumSpan(const Sample* values, int32_t count, EllipseSums& sums) {
    int64_t sum = 0;
    uint64_t squares = 0;  // at most 65,536 values below 2^32 each
    int32_t low = sums.minimum, high = sums.maximum;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t v = values[i];
        sum += v;
        // Below 2^32 for 16-bit samples, signed or not; unsigned 32-bit products vectorise.
        squares += uint32_t(v) * uint32_t(v);
        low = std::min(low, v);
        high = std::max(high, v);
    }
    sums.sum += sum;
    sums.sumOfSquares += double(squares);
    sums.minimum = low;
    sums.maximum = high;
}

}  // namespace

EllipseSums SumEllipse(const uint16_t* words, int32_t columns, int32_t rows, bool isSigned,
                       const EllipseBox& box) {
    EllipseSums sums;
    const Shape s = ShapeOf(box);
    if (words == nullptr || columns <= 0 || rows <= 0 || !(s.a > 0) || !(s.b > 0) ||
        !std::isfinite(s.cx) || !std::isfinite(s.cy) || !std::isfinite(s.a) || !std::isfinite(s.b)) {
        return sums;
    }
    const int32_t yFrom = std::max(0, Index(std::floor(s.cy - s.b - 0.5), rows));
    const int32_t yTo = std::min(rows - 1, Index(std::ceil(s.cy + s.b - 0.5), rows));
    for (int32_t y = yFrom; y <= yTo; ++y) {
        const double dy = (double(y) + 0.5 - s.cy) / s.b;
        const double rest = 1.0 - dy * dy;
        if (rest < 0) continue;
        // The span from the circle's equation, then settled on the exact test at both ends.
        const double half = s.a * std::sqrt(rest);
        int32_t left = std::max(0, Index(std::ceil(s.cx - half - 0.5), columns));
        int32_t right = std::min(columns - 1, Index(std::floor(s.cx + half - 0.5), columns));
        while (left > 0 && Inside(s, left - 1, y)) --left;
        while (left <= right && !Inside(s, left, y)) ++left;
        while (right < columns - 1 && right >= left && Inside(s, right + 1, y)) ++right;
        while (right >= left && !Inside(s, right, y)) --right;
        if (right < left) continue;
        const uint16_t* row = words + size_t(y) * size_t(columns) + size_t(left);
        if (sums.count == 0) {
            const int32_t first = isSigned ? int32_t(int16_t(row[0])) : int32_t(row[0]);
            sums.minimum = sums.maximum = first;
        }
        if (isSigned) {
            SumSpan(reinterpret_cast<const int16_t*>(row), right - left + 1, sums);
        } else {
            SumSpan(row, right - left + 1, sums);
        }
        sums.count += uint32_t(right - left + 1);
    }
    return sums;
}

}  // namespace vexel
