#include "viewer/display_lut.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/dicom_image.h"
#include "viewer/default_window.h"

namespace vexel {
namespace {

// First table index whose modality value is above the threshold (kEntries when none is).
// Values are integers, so "x > t" is "x > floor(t)".
size_t FirstIndexAbove(double threshold) {
    if (threshold < CDisplayLUT::kLowestValue) return 0;
    if (threshold >= CDisplayLUT::kHighestValue) return CDisplayLUT::kEntries;
    return static_cast<size_t>(static_cast<int64_t>(std::floor(threshold)) + 1 -
                               CDisplayLUT::kLowestValue);
}

// Level of an entry strictly inside the window, where span > 0 (a width of 1 has no inside).
struct MiddleOfWindow {
    double offset;  // centre - 0.5
    double span;    // width - 1
    int32_t Level(size_t index) const {
        const double x = double(int64_t(index) + CDisplayLUT::kLowestValue);
        const auto level = int32_t(((x - offset) / span + 0.5) * 255.0 + 0.5);
        return std::clamp(level, 0, 255);
    }
};

}  // namespace

CDisplayLUT::CDisplayLUT()
    : m_grey(static_cast<uint32_t*>(CheckedCalloc(kEntries * sizeof(uint32_t)))),
      m_bytes(static_cast<uint8_t*>(CheckedCalloc(kEntries))) {}

size_t CDisplayLUT::IndexOf(int64_t modalityValue) {
    const int64_t clamped = std::clamp<int64_t>(modalityValue, kLowestValue, kHighestValue);
    return static_cast<size_t>(clamped - kLowestValue);
}

bool CDisplayLUT::SetWindow(float centre, float width, bool monochrome1, bool force) {
    // NaN would reach the float-to-integer conversion of the middle of the window.
    if (!std::isfinite(centre) || !std::isfinite(width)) return false;
    const float raised = width < 1.0f ? 1.0f : width;
    if (!force && centre == m_centre && raised == m_width && monochrome1 == m_monochrome1) {
        return false;
    }
    m_centre = centre;
    m_width = raised;
    m_monochrome1 = monochrome1;
    if (!IsValid()) return false;
    Rebuild();
    if (m_listener) m_listener(m_centre, m_width);
    return true;
}

bool CDisplayLUT::SetNegative(bool negative) {
    if (negative == m_negative) return false;
    m_negative = negative;
    return SetWindow(m_centre, m_width, m_monochrome1, true);
}

bool CDisplayLUT::SetDefaultWindow(const CDicomImage* image, CSeriesStateStore& store) {
    if (image == nullptr) return false;
    const WindowLevel window = DefaultWindowOf(*image, store);
    const bool monochrome1 = image->Photometric() == PhotometricCode::Monochrome1;
    return SetWindow(window.centre, window.width, monochrome1, false);
}

void CDisplayLUT::FillRange(size_t from, size_t to, uint8_t level) {
    if (from >= to) return;
    std::memset(m_bytes.get() + from, level, to - from);
    std::fill(m_grey.get() + from, m_grey.get() + to, uint32_t{level} * 0x010101u);
}

void CDisplayLUT::Rebuild() {
    // A MONOCHROME1 image shown as negative looks like a MONOCHROME2 image.
    const bool invert = m_monochrome1 != m_negative;
    const MiddleOfWindow middle{double(m_centre) - 0.5, double(m_width) - 1.0};
    // PS3.3 C.11.2.1.2.1: x <= low is the darkest level, x > high the brightest.
    const size_t first = FirstIndexAbove(middle.offset - middle.span * 0.5);
    const size_t last = std::max(first, FirstIndexAbove(middle.offset + middle.span * 0.5));
    FillRange(0, first, invert ? 255 : 0);
    FillRange(last, kEntries, invert ? 0 : 255);
    // The levels rise monotonically with the value (every step of the formula does), so the
    // middle is at most 256 runs; each run's end is found by bisection with the same formula
    // that gives its level, which keeps every entry exactly as computed one by one.
    for (size_t i = first; i < last;) {
        const int32_t level = middle.Level(i);
        size_t below = i + 1, above = last;  // the run ends in [below, above]
        while (below < above) {
            const size_t probe = below + (above - below) / 2;
            if (middle.Level(probe) > level) {
                above = probe;
            } else {
                below = probe + 1;
            }
        }
        FillRange(i, below, uint8_t(invert ? 255 - level : level));
        i = below;
    }
}

}  // namespace vexel
