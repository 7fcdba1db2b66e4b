// Follows the image shown in other viewports: when another viewport shows a new image, this
// one shows the image of its own series at the same place, if there is one. It also draws
// the reference line of another viewport's plane over its image (layer bit 1).
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "viewer/view_geometry.h"
#include "viewer/viewport_tool.h"

namespace vexel {

class CVexelEngine;
struct DisplayedImageRecord;

// Where another viewport's image lies in this viewport's series: the volumes answer it.
class ICorrespondingImages {
public:
    virtual ~ICorrespondingImages() = default;
    // The image and frame of `target` at the place of the source's image, or null.
    virtual CDicomImage* FindCorrespondingImage(const DisplayedImageRecord& source,
                                                CViewport2D& target, size_t* frame) = 0;
};

class CViewport2DSynchronizer final : public CViewport2DTool {
public:
    // Outline first, then the line over it.
    static constexpr uint32_t kLineOutline = 0x000000;
    static constexpr uint32_t kLineColour = 0xFFD700;

    // `finder` null: nothing is followed yet. `autoSynchronise` null: the setting is on.
    CViewport2DSynchronizer(CViewport2D& viewport, CVexelEngine* engine,
                            ICorrespondingImages* finder, std::function<bool()> autoSynchronise);
    ~CViewport2DSynchronizer() override;

    // Only viewports on screen follow others; off-screen ones may live on any thread.
    void SetOnScreen(bool onScreen);
    void Draw(ICanvas& canvas, const PixelRect* clip) override;
    // A cleared viewport follows again and shows no line.
    void Reset() override;

    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool enabled) { m_enabled = enabled; }
    // The reference line, in image coordinates of the frame shown.
    void SetReferenceLine(ImagePoint from, ImagePoint to);
    void SetReferenceLineEnabled(bool enabled) { m_lineEnabled = enabled; }
    void HideReferenceLine() { m_lineVisible = false; }
    bool ReferenceLineShown() const { return m_lineEnabled && m_lineVisible; }
    std::pair<ImagePoint, ImagePoint> ReferenceLine() const { return {m_from, m_to}; }

private:
    static uint32_t OnViewportEvent(uint32_t code, uint64_t payload, void* context);
    void Follow(const DisplayedImageRecord& source);

    CVexelEngine* m_engine;
    ICorrespondingImages* m_finder;
    std::function<bool()> m_autoSynchronise;
    bool m_enabled = true;
    bool m_lineEnabled = true;
    bool m_lineVisible = false;
    ImagePoint m_from;
    ImagePoint m_to;
    uint32_t m_cookie = 0;
};

}  // namespace vexel
