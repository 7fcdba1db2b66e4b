#include "viewer/default_window.h"

#include <cmath>

#include "dicom/dicom_file.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "viewer/series_state_store.h"

namespace vexel {
namespace {

constexpr uint32_t kWindowCenterTag = 0x00281050;
constexpr uint32_t kWindowWidthTag = 0x00281051;
constexpr WindowLevel kEightBitWindow{128, 256};

}  // namespace

std::optional<WindowLevel> FileWindowOf(CDicomFile& file) {
    const float centre = file.Float(kWindowCenterTag, 0);
    const float width = file.Float(kWindowWidthTag, 0);
    if (!std::isfinite(centre) || !std::isfinite(width) || width < 1.0f) return std::nullopt;
    return WindowLevel{centre, width};
}

std::optional<WindowLevel> FullDynamicWindowOf(CDicomFrame& frame) {
    WindowLevel window;
    if (!frame.ComputeValueRange(window.centre, window.width)) return std::nullopt;
    return window;
}

WindowLevel DefaultWindowOf(const CDicomImage& image, CSeriesStateStore& store) {
    if (const auto fromFile = FileWindowOf(image.File())) return *fromFile;
    if (const auto cached = store.GetComputedWindow(image.Key())) return *cached;
    CDicomFrame* first = image.Frame(0);
    if (first == nullptr) {
        store.PutComputedWindow(image.Key(), kEightBitWindow);
        return kEightBitWindow;
    }
    // A frame that cannot be decoded now may decode later: nothing is kept for it.
    const auto computed = FullDynamicWindowOf(*first);
    if (!computed) return kEightBitWindow;
    store.PutComputedWindow(image.Key(), *computed);
    return *computed;
}

}  // namespace vexel
