#include "app/thumb_drag_preview.h"

#include <QPainter>

namespace vexel {

CThumbDragPreview::CThumbDragPreview(QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(100, 100);
}

void CThumbDragPreview::ShowAt(const QImage& image, QPoint globalPos) {
    m_image = image;
    resize(m_image.size());
    MoveTo(globalPos);
    show();
    update();
}

void CThumbDragPreview::MoveTo(QPoint globalPos) {
    // One pixel off the hot spot, so the window under the cursor is never this one.
    move(globalPos + QPoint(1, 1));
}

void CThumbDragPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, m_image);
}

}  // namespace vexel
