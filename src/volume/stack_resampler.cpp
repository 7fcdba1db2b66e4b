#include "volume/stack_resampler.h"

#include <algorithm>
#include <cmath>

namespace vexel {
namespace {

constexpr size_t kMaxSamples = 8192;

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

StackWeights ComputeStackWeights(std::span<const double> z, double step, size_t count) {
    StackWeights w;
    w.first.reserve(count + 1);
    const size_t knots = z.size();
    auto add = [&w](size_t slice, double weight) {
        if (weight == 0) return;
        if (w.first.back() < w.slice.size() && w.slice.back() == slice) {
            w.weight.back() += weight;
            return;
        }
        w.slice.push_back(uint32_t(slice));
        w.weight.push_back(weight);
    };
    size_t k = 0;  // the knot segment that holds the interval's start
    for (size_t t = 0; t < count; ++t) {
        w.first.push_back(uint32_t(w.slice.size()));
        if (knots < 2) {
            if (knots == 1) add(0, 1);
            continue;
        }
        const double centre = z[0] + double(t) * step;
        const double a = std::clamp(centre - step / 2, z[0], z[knots - 1]);
        const double b = std::clamp(centre + step / 2, z[0], z[knots - 1]);
        while (k + 2 < knots && z[k + 1] <= a)
            ++k;
        // The signal at x in segment j is (1 - f) v[j] + f v[j + 1].
        auto fraction = [&z](size_t j, double x) {
            const double width = z[j + 1] - z[j];
            return width > 0 ? (x - z[j]) / width : 0.0;
        };
        if (!(b > a)) {
            const double f = fraction(k, a);
            add(k, 1 - f);
            add(k + 1, f);
            continue;
        }
        double from = a;
        for (size_t j = k; j + 1 < knots && from < b; ++j) {
            const double to = std::min(b, z[j + 1]);
            if (to > from) {
                // Trapezoid over [from, to] of a linear piece, divided by the interval.
                const double share = (to - from) / (b - a) / 2;
                const double f0 = fraction(j, from);
                const double f1 = fraction(j, to);
                add(j, share * ((1 - f0) + (1 - f1)));
                add(j + 1, share * (f0 + f1));
            }
            from = std::max(from, to);
        }
    }
    w.first.push_back(uint32_t(w.slice.size()));
    return w;
}

}  // namespace vexel
