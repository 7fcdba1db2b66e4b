// Resampling along a stack of slices: the values of one line through the stack, one value
// per slice at the slices' positions, are a piecewise-linear signal; each output sample is the
// signal's mean over one step around its position, so a reformatted slice of a given
// thickness holds what a slice of that thickness would have measured, and no value is made
// up between slices far apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vexel {

// How many samples a stack spanning `span` mm gets at `step` mm: one every step from the
// first slice, at least 2, and at most 4 x slices and 8,192, so that a thin source step
// over a long stack cannot ask for more output than the source holds. The step that count
// needs comes back in `usedStep` (the asked step unless the count was limited).
size_t StackSampleCount(double span, double step, size_t slices, double* usedStep);

// Every line through a stack has its knots at the same positions, so a sample is the same
// weighted sum of the slices' values on every line: sample t is
//   sum over e in [first[t], first[t + 1]) of weight[e] x value[slice[e]].
struct StackWeights {
    std::vector<uint32_t> first;  // count + 1 entries
    std::vector<uint32_t> slice;
    std::vector<double> weight;
};

// Samples t = 0 .. count-1 at positions[0] + t x step: the mean of the signal over
// [position - step/2, position + step/2] cut to the stack, by the trapezoid rule over the
// knots. Positions ascend strictly.
StackWeights ComputeStackWeights(std::span<const double> positions, double step, size_t count);

}  // namespace vexel
