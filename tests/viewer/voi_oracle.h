// The linear VOI function of PS3.3 C.11.2.1.2.1 for an 8-bit output, written out plainly in
// long double, as the reference for the display look-up tables.
#pragma once

#include <cmath>
#include <cstdint>

namespace vexel::test {

struct ExpectedLevel {
    int level = 0;
    // The exact output lies within a hair of a half step: rounding may go either way.
    bool ambiguous = false;
};

// ymin 0, ymax 255, rounded half up; inverted afterwards when `invert`.
inline ExpectedLevel LinearVoi(int64_t value, float centre, float width, bool invert) {
    const long double x = value, c = centre, w = width;
    ExpectedLevel expected;
    if (x <= c - 0.5L - (w - 1) / 2) {
        expected.level = 0;
    } else if (x > c - 0.5L + (w - 1) / 2) {
        expected.level = 255;
    } else {
        const long double y = ((x - (c - 0.5L)) / (w - 1) + 0.5L) * (255 - 0) + 0;
        const long double rounded = std::floor(y + 0.5L);
        expected.ambiguous = std::fabs(y + 0.5L - std::round(y + 0.5L)) < 1e-6L;
        expected.level = int(std::fmin(255.0L, std::fmax(0.0L, rounded)));
    }
    if (invert) expected.level = 255 - expected.level;
    return expected;
}

}  // namespace vexel::test
