#include "volume/stack_resampler.h"

#include <algorithm>
#include <cmath>

namespace vexel {
namespace {

constexpr size_t kMaxSamples = 8192;

// The signal at x, within knot segment k (positions[k] <= x <= positions[k + 1]).
double At(std::span<const double> z, std::span<const double> v, size_t k, double x) {
    const double width = z[k + 1] - z[k];
    const double t = width > 0 ? (x - z[k]) / width : 0;
    return v[k] + (v[k + 1] - v[k]) * t;
}

}  // namespace

size_t StackSampleCount(double span, double step, size_t slices, double* usedStep) {
    span = std::abs(span);
    const size_t limit = std::max<size_t>(2, std::min(4 * slices, kMaxSamples));
    size_t count = 2;
    if (std::isfinite(span) && std::isfinite(step) && step > 0) {
        const double wanted = std::floor(span / step) + 1;
        count = wanted >= double(limit) ? limit : std::max<size_t>(2, size_t(wanted));
    }
    if (usedStep != nullptr) {
        const bool limited = !(step > 0) || std::floor(span / step) + 1 > double(limit) ||
                             std::floor(span / step) + 1 < 2;
        *usedStep = limited ? span / double(count - 1) : step;
    }
    return count;
}

void ResampleStackLine(std::span<const double> positions, std::span<const double> values,
                       double step, size_t count, std::span<double> out) {
    const size_t knots = std::min(positions.size(), values.size());
    count = std::min(count, out.size());
    if (knots == 0) {
        std::fill_n(out.begin(), count, 0.0);
        return;
    }
    if (knots == 1) {
        std::fill_n(out.begin(), count, values[0]);
        return;
    }
    const double first = positions[0];
    const double last = positions[knots - 1];
    size_t k = 0;  // the knot segment that holds the interval's start
    for (size_t t = 0; t < count; ++t) {
        const double centre = first + double(t) * step;
        const double a = std::clamp(centre - step / 2, first, last);
        const double b = std::clamp(centre + step / 2, first, last);
        while (k + 2 < knots && positions[k + 1] <= a)
            ++k;
        if (!(b > a)) {
            out[t] = At(positions, values, k, a);
            continue;
        }
        double sum = 0;
        double from = a;
        for (size_t j = k; j + 1 < knots && from < b; ++j) {
            const double to = std::min(b, positions[j + 1]);
            if (to > from)
                sum += (to - from) *
                       (At(positions, values, j, from) + At(positions, values, j, to)) / 2;
            from = std::max(from, to);
        }
        out[t] = sum / (b - a);
    }
}

}  // namespace vexel
