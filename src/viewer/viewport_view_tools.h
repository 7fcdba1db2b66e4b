// The tools that move through the series and change the view: browse, pan and zoom.
#pragma once

#include <cstddef>

#include "viewer/viewport_tool.h"

namespace vexel {

// Drag: every 2 pixels down show the next image, wrapping at the ends. Wheel: one image per
// notch, away from the user goes back.
class CViewport2DSlice final : public CViewport2DTool {
public:
    explicit CViewport2DSlice(CViewport2D& viewport)
        : CViewport2DTool(viewport, ToolType::Browse) {}

    ToolAnswer MouseDown(int32_t x, int32_t y, MouseButton button) override;
    ToolAnswer MouseMove(int32_t x, int32_t y) override;
    ToolAnswer MouseUp(int32_t x, int32_t y, MouseButton button) override;
    void Wheel(int32_t delta);
    void EndDrag() override { m_active = m_dragging = false; }

private:
    int32_t m_pressY = 0;
    size_t m_startPosition = 0;
    bool m_dragging = false;
};

// Pan and zoom share the press and release; the flag says the user chose the view, which
// a resize then keeps.
class CViewport2DViewDrag : public CViewport2DTool {
public:
    using CViewport2DTool::CViewport2DTool;

    ToolAnswer MouseDown(int32_t x, int32_t y, MouseButton button) override;
    ToolAnswer MouseUp(int32_t x, int32_t y, MouseButton button) override;

    bool Moved() const { return m_moved; }
    void SetMoved(bool moved) { m_moved = moved; }
    void EndDrag() override { m_active = m_dragging = false; }

protected:
    // Shows the view the drag has laid out.
    void ShowDraggedView();

    int32_t m_pressX = 0;
    int32_t m_pressY = 0;
    bool m_moved = false;
    bool m_dragging = false;
};

class CViewport2DMove final : public CViewport2DViewDrag {
public:
    explicit CViewport2DMove(CViewport2D& viewport)
        : CViewport2DViewDrag(viewport, ToolType::Pan) {}
    ToolAnswer MouseMove(int32_t x, int32_t y) override;
};

// Dragging up enlarges: the viewport's height enlarges four times.
class CViewport2DZoom final : public CViewport2DViewDrag {
public:
    explicit CViewport2DZoom(CViewport2D& viewport)
        : CViewport2DViewDrag(viewport, ToolType::Zoom) {}
    ToolAnswer MouseMove(int32_t x, int32_t y) override;
};

}  // namespace vexel
