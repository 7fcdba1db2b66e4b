#include "viewer/scroll_bar.h"

#include <algorithm>
#include <cmath>

namespace vexel {

void CMyScrollBar::SetHeight(int32_t height) {
    m_height = std::max(height, 0);
    Changed();
}

void CMyScrollBar::SetRange(int32_t count, int32_t position) {
    m_minimum = 0;
    m_maximum = std::max(count - 1, 1);
    m_position = std::clamp(position, m_minimum, m_maximum);
    m_active = count > 1;
    if (!m_active) m_dragging = false;
    Changed();
}

void CMyScrollBar::Deactivate() {
    m_active = m_dragging = m_hover = false;
    m_position = 0;
    Changed();
}

PixelRect CMyScrollBar::Thumb() const {
    if (!m_active || m_height <= 0) return {};
    const int32_t span = m_maximum - m_minimum;
    const int32_t thumb = std::min(m_height, std::max(kMinThumbHeight, m_height / (span + 1)));
    const int64_t top = int64_t(m_height - thumb) * (m_position - m_minimum) / span;
    return {0, int32_t(top), kWidth, thumb};
}

void CMyScrollBar::Press(int32_t y) {
    if (!m_active) return;
    const PixelRect thumb = Thumb();
    if (y >= thumb.y && y < thumb.y + thumb.height) {
        m_dragging = true;
        m_dragOffset = y - thumb.y;
        Changed();
    } else {
        MoveTo(m_position + (y < thumb.y ? -1 : 1));
    }
}

void CMyScrollBar::Move(int32_t y) {
    const bool hover = m_active;
    if (hover != m_hover) {
        m_hover = hover;
        Changed();
    }
    if (!m_dragging) return;
    const PixelRect thumb = Thumb();
    const int32_t free = m_height - thumb.height;
    if (free <= 0) return;
    const double top = double(std::clamp<int64_t>(int64_t(y) - m_dragOffset, 0, free));
    MoveTo(m_minimum + int32_t(std::lround(top * (m_maximum - m_minimum) / free)));
}

void CMyScrollBar::Release() {
    if (!m_dragging) return;
    m_dragging = false;
    Changed();
}

void CMyScrollBar::Leave() {
    if (!m_hover) return;
    m_hover = false;
    Changed();
}

void CMyScrollBar::MoveTo(int32_t position) {
    position = std::clamp(position, m_minimum, m_maximum);
    if (position == m_position) return;
    m_position = position;
    Changed();
    m_host.ScrolledTo(position);
}

}  // namespace vexel
