#include "viewer/interpolation_parameters.h"

namespace vexel {

bool CInterpolationParameters::Matches(const CInterpolationParameters& other) const {
    if (frameKey.empty() || other.frameKey.empty()) return false;
    return frameKey == other.frameKey && orientation == other.orientation &&
           centre == other.centre && width == other.width && negative == other.negative &&
           monochrome1 == other.monochrome1 && colourIntermediate == other.colourIntermediate &&
           overlay == other.overlay;
}

}  // namespace vexel
