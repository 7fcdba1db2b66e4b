#include "engine/series_file_record.h"

#include <array>
#include <cmath>
#include <tuple>

#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"

namespace vexel {
bool SeriesFileBefore(const SeriesFileRecord& a, const SeriesFileRecord& b) {
    // Files with a position come before those without, then by position ascending.
    return std::forward_as_tuple(a.acquisitionNumber, a.instanceNumber,
                                 !a.slicePosition.has_value(), a.slicePosition.value_or(0.0),
                                 a.sopInstanceUid, a.path) <
           std::forward_as_tuple(b.acquisitionNumber, b.instanceNumber,
                                 !b.slicePosition.has_value(), b.slicePosition.value_or(0.0),
                                 b.sopInstanceUid, b.path);
}

std::optional<double> SlicePositionOf(const CDicomImage& image) {
    const CDicomFrame* frame = image.Frame(0);
    if (frame == nullptr || !frame->Position() || !frame->Orientation()) return std::nullopt;
    const std::array<float, 3>& p = *frame->Position();
    const std::array<float, 6>& o = *frame->Orientation();
    const double normal[3] = {double(o[1]) * o[5] - double(o[2]) * o[4],
                              double(o[2]) * o[3] - double(o[0]) * o[5],
                              double(o[0]) * o[4] - double(o[1]) * o[3]};
    const double length =
        std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    if (!(length > 1e-6) || !std::isfinite(length)) return std::nullopt;
    const double along = (p[0] * normal[0] + p[1] * normal[1] + p[2] * normal[2]) / length;
    if (!std::isfinite(along)) return std::nullopt;
    return along;
}

}  // namespace vexel
