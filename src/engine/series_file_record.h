// One file of a series and the order in which a series lists its files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vexel {

class CDicomImage;

struct SeriesFileRecord {
    int32_t instanceNumber = -1;     // (0020,0013)
    int32_t acquisitionNumber = -1;  // (0020,0012)
    int32_t seriesNumber = -1;       // (0020,0011)
    uint32_t numberOfFrames = 1;     // frames of the image, at least 1
    // Image Position (Patient) of the first frame projected on its slice normal (row
    // direction x column direction), in mm; none without a usable position and orientation.
    std::optional<double> slicePosition;
    std::string sopInstanceUid;  // (0008,0018), empty when absent
    std::string path;
};

// Load order: acquisition number, instance number, position along the slice normal (files
// without one last), SOP Instance UID, path. Every key is read from the file itself, so the
// order does not depend on the order in which files were added.
bool SeriesFileBefore(const SeriesFileRecord& a, const SeriesFileRecord& b);

// The first frame's position along its own slice normal.
std::optional<double> SlicePositionOf(const CDicomImage& image);

}  // namespace vexel
