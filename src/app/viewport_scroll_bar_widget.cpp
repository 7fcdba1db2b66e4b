#include "app/viewport_scroll_bar_widget.h"

#include <QMouseEvent>
#include <QPainter>

#include "viewer/scroll_bar.h"

namespace vexel {

CViewportScrollBarWidget::CViewportScrollBarWidget(CMyScrollBar& bar, QWidget* parent)
    : QWidget(parent), m_bar(bar) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);  // hover
    setFixedWidth(CMyScrollBar::kWidth);
}

void CViewportScrollBarWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect strip = rect();
    if (!m_bar.Active()) {
        // Nothing to scroll: the strip looks like the empty viewport beside it.
        painter.fillRect(strip, Qt::black);
        return;
    }
    painter.fillRect(strip, QColor(kTrackColour));
    painter.setPen(QColor(kFrameColour));
    painter.drawRect(strip.adjusted(0, 0, -1, -1));

    const PixelRect thumb = m_bar.Thumb();
    if (thumb.Empty()) return;
    const QRgb colour = m_bar.Dragging() ? kThumbDragColour
                        : m_bar.Hover()  ? kThumbHoverColour
                                         : kThumbColour;
    const QRect body = QRect(thumb.x, thumb.y, thumb.width, thumb.height).adjusted(2, 1, -2, -1);
    if (body.isEmpty()) return;
    painter.fillRect(body, QColor(colour));

    // Three grip lines across the middle, when the thumb has room for them.
    if (body.height() < 9 || body.width() < 5) return;
    painter.setPen(QColor(kGripColour));
    const int centre = body.top() + body.height() / 2;
    for (const int y : {centre - 3, centre, centre + 3})
        painter.drawLine(body.left() + 2, y, body.right() - 2, y);
}

void CViewportScrollBarWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    m_bar.Press(event->position().toPoint().y());
}

void CViewportScrollBarWidget::mouseMoveEvent(QMouseEvent* event) {
    m_bar.Move(event->position().toPoint().y());
}

void CViewportScrollBarWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    m_bar.Release();
}

void CViewportScrollBarWidget::leaveEvent(QEvent* event) {
    m_bar.Leave();
    QWidget::leaveEvent(event);
}

}  // namespace vexel
