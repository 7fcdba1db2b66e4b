// The fusion tool of a 2D viewport: draws the frame of another viewport's series (PET over
// CT) that pairs with the shown frame, in colour and half transparent, placed by patient
// geometry, with a colour bar in SUVbw or Bq/ml at the left edge.
//
// The overlay frame is the one the volume manager pairs with the shown frame in the overlay
// viewport (none when the slabs do not overlap), in that viewport's window, so changing the
// PET window there recolours this one. SUV is worked out once per overlay frame.
//
// Threads: the user-interface thread.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/pet_suv.h"
#include "viewer/image_blender.h"
#include "viewer/viewer_texts.h"
#include "viewer/viewport_tool.h"

namespace vexel {

class CFusionEngine;
class CVolumeManager;

struct FusionServices {
    CFusionEngine* engine = nullptr;  // told when the viewport goes
    CVolumeManager* volumes = nullptr;
    TextLookup text;  // empty: English
};

class CViewport2DFusion final : public CViewport2DTool, public IImageBlender {
public:
    CViewport2DFusion(CViewport2D& viewport, const FusionServices& services);
    ~CViewport2DFusion() override;

    bool Fused() const { return m_overlayViewport != 0; }
    uint32_t OverlayViewport() const { return m_overlayViewport; }
    // The engine's: fuse the series of that viewport over this one, or stop.
    void SetOverlay(uint32_t overlayViewportId);
    // Export's: always this frame in this window (null: none), whatever is shown.
    void SetFixedImage(CDicomFrame* frame, double low, double high);

    // The overlay frame paired with `base`, null when there is none (no fusion, no pair, or
    // slabs that do not overlap).
    CDicomFrame* Partner(CDicomFrame& base) const;
    // The overlay window in its rescaled values; empty (low >= high) when there is none.
    void OverlayWindow(double* low, double* high) const;
    // SUV of an overlay frame, worked out once per frame.
    const SuvInfo& SuvOf(CDicomFrame& overlay);

    std::string BlendKey(CDicomFrame& frame) override;
    void Blend(CDicomFrame& frame, uint32_t* picture, const RowRunner& runRows) override;
    bool OverlayStatistics(CDicomFrame& frame, float x1, float y1, float x2, float y2,
                           EllipseStatistics* stats, SuvInfo* suv) override;
    void Draw(ICanvas& canvas, const PixelRect* clip) override;

private:
    FusionServices m_services;
    uint32_t m_overlayViewport = 0;
    CDicomFrame* m_fixed = nullptr;
    double m_fixedLow = 0, m_fixedHigh = 0;
    std::string m_suvKey;
    SuvInfo m_suv;
};

}  // namespace vexel
