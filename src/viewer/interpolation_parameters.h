// What a resampler's cached intermediate image was made from: the frame, the orientation and
// every input of the display look-up. Stage 1 runs again whenever any of them changes.
#pragma once

#include <cstdint>
#include <string>

namespace vexel {

class CInterpolationParameters {
public:
    std::string frameKey;      // empty: nothing cached, never equal to anything
    uint32_t orientation = 0;  // OrientationCode of the view
    float centre = 0;
    float width = 0;
    bool negative = false;
    bool monochrome1 = false;
    bool colourIntermediate = false;  // four bytes per pixel instead of one
    bool overlay = false;             // the overlay plane is drawn in

    // All fields equal, floats compared exactly; false when either key text is empty.
    bool Matches(const CInterpolationParameters& other) const;
};

}  // namespace vexel
