#include "viewer/viewport_measurements.h"

#include "viewer/viewport_2d.h"

namespace vexel {

ToolAnswer CViewport2DROI::MouseDown(int32_t x, int32_t y, MouseButton button) {
    if (m_viewport.CinePlaying()) return ToolAnswer::Handled;
    if (m_viewport.ImageCount() == 0 || !m_list) return ToolAnswer::NotHandled;
    const ToolAnswer answer = m_list->MouseDown(x, y, button);
    if (answer != ToolAnswer::NotHandled) return answer;
    if (m_viewport.SelectedTool() != this) return ToolAnswer::NotHandled;
    m_list->Deselect();
    m_pending = true;
    m_active = true;
    m_pressX = x;
    m_pressY = y;
    m_button = button;
    return ToolAnswer::Capture;
}

ToolAnswer CViewport2DROI::MouseMove(int32_t x, int32_t y) {
    if (m_viewport.CinePlaying()) return ToolAnswer::Handled;
    if (!m_list) return ToolAnswer::NotHandled;
    const ToolAnswer answer = m_list->MouseMove(x, y);
    if (answer != ToolAnswer::NotHandled) return answer;
    if (!m_pending || (x == m_pressX && y == m_pressY)) return ToolAnswer::NotHandled;
    // Elements are made on movement, so a click alone creates nothing.
    m_pending = false;
    m_list->Create(m_kind, m_pressX, m_pressY, m_button, x, y);
    return ToolAnswer::Handled;
}

ToolAnswer CViewport2DROI::MouseUp(int32_t x, int32_t y, MouseButton button) {
    if (m_viewport.CinePlaying()) return ToolAnswer::Handled;
    m_pending = false;
    if (m_list) {
        const ToolAnswer answer = m_list->MouseUp(x, y, button);
        if (answer != ToolAnswer::NotHandled) return answer;
    }
    m_active = false;
    return ToolAnswer::NotHandled;
}

void CViewport2DROI::Draw(ICanvas& canvas, const PixelRect* clip) {
    if (m_list) m_list->Draw(canvas, clip);
}

void CViewport2DROI::FrameChanged(CDicomFrame* frame) {
    // An element still being made belongs to the frame it was started on: it goes.
    if (m_list) m_list->Abandon();
    m_pending = false;
    m_active = false;
    m_list.reset();
    if (frame != nullptr && m_lists != nullptr) m_list = m_lists->Open(m_viewport, *frame);
}

void CViewport2DROI::RefreshLabels() {
    if (m_list) m_list->RefreshLabels();
}

void CViewport2DROI::EndDrag() {
    if (m_list) m_list->Abandon();
    m_pending = false;
    m_active = false;
}

bool CViewport2DROI::Redrawn(bool deleted) {
    if (deleted) {
        m_viewport.Compose();
        m_viewport.Present();
    }
    return deleted;
}

bool CViewport2DROI::DeleteSelected() {
    return Redrawn(m_list && m_list->DeleteSelected());
}

bool CViewport2DROI::DeleteAllInImage() {
    return Redrawn(m_list && m_list->DeleteAll());
}

bool CViewport2DROI::DeleteAllInSeries() {
    return Redrawn(m_lists != nullptr && m_lists->DeleteSeries(m_viewport));
}

bool CViewport2DROI::Escape() {
    if (!m_list) return false;
    if (m_list->Abandon()) {
        m_active = false;
        m_pending = false;
        return Redrawn(true);
    }
    m_list->Deselect();
    return true;
}

}  // namespace vexel
