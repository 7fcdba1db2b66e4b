// What a higher layer draws over a grey frame before the view's rotation and scaling: the
// fused overlay of another series. The viewport's fusion tool may offer it; the viewport then
// asks it at every render.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/dicom_frame.h"
#include "imaging/pet_suv.h"
#include "viewer/resampler_stage1.h"

namespace vexel {

class IImageBlender {
public:
    virtual ~IImageBlender() = default;
    // Names what would be drawn over `frame` now (the overlay frame and its window), so a
    // cached picture is reused only for the same; empty when nothing is.
    virtual std::string BlendKey(CDicomFrame& frame) = 0;
    // Draws over `picture`: 0x00RRGGBB words, the frame's columns x rows, in its own layout;
    // `runRows` shares row bands out over the resampler's threads.
    virtual void Blend(CDicomFrame& frame, uint32_t* picture, const RowRunner& runRows) = 0;
    // The statistics of what is drawn under an ellipse given by two opposite corners in the
    // frame's image coordinates (pixel centres at +0.5), with the SUV of what is drawn; false
    // when nothing is drawn over the frame.
    virtual bool OverlayStatistics(CDicomFrame& frame, float x1, float y1, float x2, float y2,
                                   EllipseStatistics* stats, SuvInfo* suv) = 0;
};

}  // namespace vexel
