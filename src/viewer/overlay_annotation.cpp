#include "viewer/overlay_annotation.h"

#include "platform/canvas.h"
#include "viewer/viewport_2d.h"

namespace vexel {

void COverlayAnnotation::Measure(ICanvas& canvas) {
    if (m_text.empty()) {
        m_rect = {};
        return;
    }
    if (m_text != m_measuredText || m_viewport->FontSize() != m_measuredFont) {
        const CanvasSize size = canvas.MeasureText(m_text);
        m_measuredText = m_text;
        m_measuredFont = m_viewport->FontSize();
        m_measuredWidth = size.width;
        m_measuredHeight = size.height;
    }
    // Measured texts are device pixels; the margins are logical.
    const CViewport2D& viewport = *m_viewport;
    const int32_t one = viewport.DevicePixels(1), margin = viewport.DevicePixels(5);
    const int32_t w = m_measuredWidth + one;
    const int32_t h = m_measuredHeight + one;
    const int32_t lineHeight = viewport.DevicePixels(AnnotationLineHeight(viewport.FontSize()));
    const int32_t width = m_viewport->Surface().Width();
    const int32_t height = m_viewport->Surface().Height();
    const bool top = m_corner == Corner::TopLeft || m_corner == Corner::TopRight;
    const bool left = m_corner == Corner::TopLeft || m_corner == Corner::BottomLeft;
    m_rect.y = top ? m_line * lineHeight + (lineHeight - h) / 2 + margin
                   : height - m_line * lineHeight - margin - h;
    m_rect.x = left ? margin : width - w - margin;
    m_rect.width = w;
    m_rect.height = h;
}

void COverlayAnnotation::Draw(ICanvas& canvas) {
    if (m_text.empty() || m_rect.Empty()) return;
    const bool left = m_corner == Corner::TopLeft || m_corner == Corner::BottomLeft;
    const TextAlign align = left ? TextAlign::Left : TextAlign::Right;
    const CanvasRect box{m_rect.x, m_rect.y, m_rect.width, m_rect.height};
    // The text one pixel down, its shadow one pixel right of the box.
    canvas.DrawShadowedText(m_text, {box.x, box.y + m_viewport->DevicePixels(1), box.width, box.height},
                            align, m_colour, 1, -1);
}

}  // namespace vexel
