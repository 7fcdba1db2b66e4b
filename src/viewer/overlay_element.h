// Something drawn over the image of a viewport (corner texts, measurements): it lays itself
// out for the canvas's font and the viewport's size, then draws when it meets the area being
// redrawn.
#pragma once

#include "viewer/viewport_surface.h"

namespace vexel {

class CViewport2D;
class ICanvas;

class COverlayElement {
public:
    explicit COverlayElement(CViewport2D& viewport) : m_viewport(&viewport) {}
    virtual ~COverlayElement() = default;
    COverlayElement(const COverlayElement&) = delete;
    COverlayElement& operator=(const COverlayElement&) = delete;

    // Computes the bounding rectangle; called before every draw.
    virtual void Measure(ICanvas& canvas) = 0;
    virtual void Draw(ICanvas& canvas) = 0;

    void SetViewport(CViewport2D& viewport) { m_viewport = &viewport; }
    bool Visible() const { return m_visible; }
    void SetVisible(bool visible) { m_visible = visible; }
    const PixelRect& Rect() const { return m_rect; }
    // Visible and inside `clip` (everywhere when null).
    bool Meets(const PixelRect* clip) const {
        return m_visible && !m_rect.Empty() && (clip == nullptr || !Intersect(*clip, m_rect).Empty());
    }

protected:
    // The viewport it is laid out for; measurements shared by several viewports move between
    // them.
    CViewport2D* m_viewport;
    bool m_visible = true;
    PixelRect m_rect;
};

}  // namespace vexel
