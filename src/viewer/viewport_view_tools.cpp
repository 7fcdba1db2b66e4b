#include "viewer/viewport_view_tools.h"

#include "viewer/viewport_2d.h"

namespace vexel {
namespace {

constexpr int32_t kWheelNotch = 120;

size_t Wrap(int64_t position, size_t count) {
    const int64_t n = int64_t(count);
    const int64_t r = position % n;
    return size_t(r < 0 ? r + n : r);
}

}  // namespace

ToolAnswer CViewport2DSlice::MouseDown(int32_t, int32_t y, MouseButton) {
    if (m_viewport.ImageCount() == 0) return ToolAnswer::NotHandled;
    m_active = m_dragging = true;
    m_pressY = y;
    m_startPosition = m_viewport.BrowsePosition();
    return ToolAnswer::Capture;
}

ToolAnswer CViewport2DSlice::MouseMove(int32_t, int32_t y) {
    if (!m_dragging) return ToolAnswer::NotHandled;
    const size_t count = m_viewport.BrowseCount();
    if (count == 0) return ToolAnswer::NotHandled;
    // One step per two logical pixels of drag.
    const int64_t steps =
        (int64_t(y) - m_pressY) / std::max<int64_t>(1, m_viewport.DevicePixels(2));
    const size_t position = Wrap(int64_t(m_startPosition) + steps, count);
    if (position != m_viewport.BrowsePosition())
        m_viewport.ShowBrowsePosition(position, true, true);
    return ToolAnswer::Handled;
}

ToolAnswer CViewport2DSlice::MouseUp(int32_t, int32_t, MouseButton) {
    m_active = m_dragging = false;
    return ToolAnswer::NotHandled;
}

void CViewport2DSlice::Wheel(int32_t delta) {
    const size_t count = m_viewport.BrowseCount();
    if (count == 0 || delta == 0) return;
    if (delta > 0 && delta < kWheelNotch) delta = kWheelNotch;
    if (delta < 0 && delta > -kWheelNotch) delta = -kWheelNotch;
    const int64_t steps = delta / kWheelNotch;
    const size_t position = Wrap(int64_t(m_viewport.BrowsePosition()) - steps, count);
    m_viewport.ShowBrowsePosition(position, true, true);
}

ToolAnswer CViewport2DViewDrag::MouseDown(int32_t x, int32_t y, MouseButton) {
    if (m_viewport.ImageCount() == 0 || m_viewport.CurrentFrame() == nullptr) {
        return ToolAnswer::NotHandled;
    }
    m_pressX = x;
    m_pressY = y;
    m_active = m_dragging = true;
    ViewGeometry& start = m_viewport.DragStart();
    start = m_viewport.Geometry();
    start.anchorX = start.viewportWidth / 2;
    start.anchorY = start.viewportHeight / 2;
    return ToolAnswer::Capture;
}

ToolAnswer CViewport2DViewDrag::MouseUp(int32_t, int32_t, MouseButton) {
    if (!m_dragging) return ToolAnswer::NotHandled;
    m_active = m_dragging = false;
    // The layers the drag left out are drawn again.
    m_viewport.Compose();
    m_viewport.Present();
    return ToolAnswer::NotHandled;
}

void CViewport2DViewDrag::ShowDraggedView() {
    m_moved = true;
    m_viewport.LayoutChanged();
    m_viewport.Render();
    m_viewport.RedrawRect(nullptr);
}

ToolAnswer CViewport2DMove::MouseMove(int32_t x, int32_t y) {
    if (!m_dragging) return ToolAnswer::NotHandled;
    const ViewGeometry& start = m_viewport.DragStart();
    if (LayoutPan(m_viewport.MutableGeometry(), start, DragDistance(x, m_pressX),
                  DragDistance(y, m_pressY))) {
        ShowDraggedView();
    }
    return ToolAnswer::Handled;
}

ToolAnswer CViewport2DZoom::MouseMove(int32_t, int32_t y) {
    if (!m_dragging) return ToolAnswer::NotHandled;
    const ViewGeometry& start = m_viewport.DragStart();
    if (LayoutZoomByDrag(m_viewport.MutableGeometry(), start, DragDistance(m_pressY, y),
                         start.anchorX, start.anchorY)) {
        ShowDraggedView();
    }
    return ToolAnswer::Handled;
}

}  // namespace vexel
