// The stored values of a frame inside an axis-aligned ellipse. A pixel belongs to the region
// when its centre (x + 0.5, y + 0.5) lies inside, so the region is what the drawn outline
// encloses. Rows are walked as spans, so the sums cost little more than a plain sum.
#pragma once

#include <cstdint>

namespace vexel {

struct EllipseSums {
    int64_t sum = 0;
    double sumOfSquares = 0;  // exact per row, for the spread
    int32_t minimum = 0;
    int32_t maximum = 0;
    uint32_t count = 0;
};

struct EllipseBox {
    float x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // opposite corners, image coordinates
};

// Centre inside: ((x + 0.5 - cx) / a)^2 + ((y + 0.5 - cy) / b)^2 <= 1, in double precision,
// with the centre and semi-axes as the corners give them in single precision. 16-bit stored
// values, `columns` x `rows`, row by row; nothing for a zero semi-axis or
// corners that are not finite.
EllipseSums SumEllipse(const uint16_t* words, int32_t columns, int32_t rows, bool isSigned,
                       const EllipseBox& box);

}  // namespace vexel
