#include "viewer/resampler_tables.h"

#include <algorithm>
#include <cmath>

namespace vexel {
namespace {

void AddTap(AxisTaps& taps, int64_t index, double weight) {
    taps.index.push_back(uint32_t(index));
    taps.weight.push_back(float(weight));
}

// Bilinear: the destination centre in source index space, between two source centres.
void EnlargeTaps(AxisTaps& taps, int32_t destSize, double zoom, int32_t start, int32_t size) {
    const double last = size - 1;
    for (int32_t i = 0; i < destSize; ++i) {
        const double s = std::clamp((i + 0.5) / zoom - 0.5 + start, 0.0, last);
        const auto i0 = int64_t(std::floor(s));
        const double f = s - double(i0);
        taps.first.push_back(uint32_t(taps.index.size()));
        AddTap(taps, i0, 1.0 - f);
        AddTap(taps, std::min<int64_t>(i0 + 1, size - 1), f);
    }
    taps.tapsPerPixel = 2;
}

void CopyTaps(AxisTaps& taps, int32_t destSize, int32_t start, int32_t size) {
    for (int32_t i = 0; i < destSize; ++i) {
        taps.first.push_back(uint32_t(taps.index.size()));
        AddTap(taps, std::clamp<int64_t>(int64_t(start) + i, 0, size - 1), 1.0);
    }
    taps.tapsPerPixel = 1;
}

// Area average: each source pixel weighs the length of it that the destination pixel covers.
void ReduceTaps(AxisTaps& taps, int32_t destSize, double zoom, int32_t start, int32_t size) {
    for (int32_t i = 0; i < destSize; ++i) {
        taps.first.push_back(uint32_t(taps.index.size()));
        const double lo = std::clamp(start + i / zoom, 0.0, double(size));
        const double hi = std::clamp(start + (i + 1) / zoom, 0.0, double(size));
        const size_t begin = taps.index.size();
        double total = 0;
        const auto kEnd = std::min<int64_t>(int64_t(std::ceil(hi)), size);
        for (auto k = int64_t(std::floor(lo)); k < kEnd; ++k) {
            const double cover = std::min(hi, double(k + 1)) - std::max(lo, double(k));
            if (cover <= 0) continue;
            AddTap(taps, k, cover);
            total += cover;
        }
        if (total <= 0) {  // past the image's edge: its last pixel
            AddTap(taps, std::clamp<int64_t>(int64_t(std::floor(lo)), 0, size - 1), 1.0);
            continue;
        }
        for (size_t t = begin; t < taps.weight.size(); ++t)
            taps.weight[t] = float(taps.weight[t] / total);
    }
}

}  // namespace

ScaleMethod MethodForZoom(float zoom) {
    if (!std::isfinite(zoom) || !(zoom > 0)) return ScaleMethod::None;
    if (zoom == 1.0f) return ScaleMethod::Copy;
    return zoom > 1.0f ? ScaleMethod::Enlarge : ScaleMethod::Reduce;
}

AxisTaps BuildAxisTaps(ScaleMethod method, int32_t destSize, double zoom, int32_t sourceStart,
                       int32_t sourceSize) {
    AxisTaps taps;
    if (destSize <= 0 || sourceSize <= 0 || !(zoom > 0) || !std::isfinite(zoom)) return taps;
    taps.first.reserve(size_t(destSize) + 1);
    if (method == ScaleMethod::Enlarge) {
        EnlargeTaps(taps, destSize, zoom, sourceStart, sourceSize);
    } else if (method == ScaleMethod::Copy) {
        CopyTaps(taps, destSize, sourceStart, sourceSize);
    } else if (method == ScaleMethod::Reduce) {
        ReduceTaps(taps, destSize, zoom, sourceStart, sourceSize);
    } else {
        return AxisTaps{};
    }
    taps.first.push_back(uint32_t(taps.index.size()));
    const auto [low, high] = std::minmax_element(taps.index.begin(), taps.index.end());
    taps.lowest = *low;
    taps.highest = *high;
    return taps;
}

}  // namespace vexel
