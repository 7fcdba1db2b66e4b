#include "viewer/cine_rate.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "dicom/dicom_file.h"
#include "dicom/value_parser.h"

namespace vexel {
namespace {

constexpr uint32_t kRecommendedDisplayFrameRate = 0x00082144;
constexpr uint32_t kCineRate = 0x00180040;
constexpr uint32_t kFrameTime = 0x00181063;
constexpr uint32_t kFrameTimeVector = 0x00181065;

bool Usable(double rate) {
    return std::isfinite(rate) && rate > 0;
}

}  // namespace

float AcquiredFrameRate(CDicomFile& file) {
    double rate = file.Integer(kRecommendedDisplayFrameRate, 0);
    if (!Usable(rate)) {
        const double frameTime = file.Float(kFrameTime, 0);
        rate = Usable(frameTime) ? 1000.0 / frameTime : 0;
    }
    if (!Usable(rate)) rate = file.Integer(kCineRate, 0);
    if (!Usable(rate)) rate = kDefaultCineRate;
    return float(std::clamp<double>(rate, kMinCineRate, kMaxCineRate));
}

std::vector<uint32_t> FrameIntervals(CDicomFile& file, size_t frames) {
    const std::string text = file.String(kFrameTimeVector);
    if (text.empty() || frames < 2) return {};
    std::vector<uint32_t> intervals;
    intervals.reserve(frames);
    bool any = false;
    std::string_view rest = text;
    // Increments 1..n-1 give the intervals of frames 0..n-2.
    for (size_t k = 0; k < frames && !rest.empty(); ++k) {
        const size_t cut = rest.find('\\');
        const std::string_view value = rest.substr(0, cut);
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
        if (k == 0) continue;
        const std::optional<double> ms = ParseDecimal(value);
        // Kept within the rates a user may choose: 1 to 1000 frames per second.
        const bool usable = ms && std::isfinite(*ms) && *ms > 0;
        const uint32_t us = usable ? uint32_t(std::clamp(*ms, 1.0, 1000.0) * 1000.0) : 0;
        intervals.push_back(us);
        any = any || usable;
    }
    if (!any) return {};
    intervals.resize(frames, 0);
    return intervals;
}

uint32_t PeriodOf(float rate) {
    return uint32_t(1e6 / double(rate));
}

}  // namespace vexel
