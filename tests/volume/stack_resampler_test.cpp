// Resampling along the stack against a plain reference: the mean of the piecewise-linear
// signal over each sample's interval by fine midpoint sums, and a ramp, whose mean is its
// value at the middle of the interval.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "volume/stack_resampler.h"

namespace vexel {
namespace {

double Signal(const std::vector<double>& z, const std::vector<double>& v, double x) {
    for (size_t k = 0; k + 1 < z.size(); ++k)
        if (x <= z[k + 1]) return v[k] + (v[k + 1] - v[k]) * (x - z[k]) / (z[k + 1] - z[k]);
    return v.back();
}

std::vector<double> Resample(const std::vector<double>& z, const std::vector<double>& v,
                             double step, size_t count) {
    const StackWeights w = ComputeStackWeights(z, step, count);
    std::vector<double> out(count);
    for (size_t t = 0; t < count; ++t)
        for (uint32_t e = w.first[t]; e < w.first[t + 1]; ++e)
            out[t] += w.weight[e] * v[w.slice[e]];
    return out;
}

double ReferenceMean(const std::vector<double>& z, const std::vector<double>& v, double a,
                     double b) {
    constexpr int kParts = 20000;
    double sum = 0;
    for (int i = 0; i < kParts; ++i)
        sum += Signal(z, v, a + (b - a) * (i + 0.5) / kParts);
    return sum / kParts;
}

TEST(StackResampler, SampleCountsFollowTheStepWithinTheirLimits) {
    struct Case {
        double span, step;
        size_t slices, count;
        double usedStep;
    } const cases[] = {
        {7, 0.5, 5, 15, 0.5},           // 0, 2, 4, 5, 7 mm at 0.5 mm pixels
        {-7, 0.5, 5, 15, 0.5},          // either direction
        {100, 0.1, 3, 12, 100.0 / 11},  // no more than four samples per slice
        {1e6, 0.5, 5000, 8192, 1e6 / 8191},
        {0, 0.5, 2, 2, 0},
        {1, 5, 2, 2, 1},  // at least two
    };
    for (const Case& c : cases) {
        double used = -1;
        EXPECT_EQ(StackSampleCount(c.span, c.step, c.slices, &used), c.count) << c.span;
        EXPECT_DOUBLE_EQ(used, c.usedStep) << c.span;
    }
}

TEST(StackResampler, EachSampleIsTheMeanOfTheSignalOverItsStep) {
    const std::vector<double> z = {0, 2, 4, 5, 7};
    const std::vector<double> v = {100, -40, 300, 310, 0};
    const double step = 0.5;
    const size_t count = StackSampleCount(7, step, z.size(), nullptr);
    std::vector<double> out = Resample(z, v, step, count);
    for (size_t t = 0; t < count; ++t) {
        const double a = std::clamp(double(t) * step - step / 2, 0.0, 7.0);
        const double b = std::clamp(double(t) * step + step / 2, 0.0, 7.0);
        EXPECT_NEAR(out[t], ReferenceMean(z, v, a, b), 1e-3) << t;
    }
    // A ramp: exactly its value at the middle of each (cut) interval.
    const std::vector<double> ramp = {10, 30, 50, 60, 80};  // 10 + 10 x z
    out = Resample(z, ramp, step, count);
    for (size_t t = 0; t < count; ++t) {
        const double a = std::clamp(double(t) * step - step / 2, 0.0, 7.0);
        const double b = std::clamp(double(t) * step + step / 2, 0.0, 7.0);
        EXPECT_NEAR(out[t], 10 + 10 * (a + b) / 2, 1e-9) << t;
    }
}

}  // namespace
}  // namespace vexel
