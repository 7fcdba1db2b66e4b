#include "app/split_chooser.h"

#include <QMouseEvent>
#include <QPainter>

namespace vexel {

CSplitChooser::CSplitChooser(QWidget* parent) : QWidget(parent, Qt::Popup) {
    setFixedSize(kChooserWidth, kChooserHeight);
    setMouseTracking(true);
}

void CSplitChooser::Popup(const QPoint& global) {
    m_hovered.reset();
    move(global);
    show();
}

void CSplitChooser::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x828282));
    painter.fillRect(rect().adjusted(1, 1, -1, -1), QColor(0x5A5A5A));
    for (uint32_t r = 0; r < kChooserRows; ++r) {
        for (uint32_t c = 0; c < kChooserColumns; ++c) {
            const CellRect cell = ChooserCell(c, r);
            const QRect area(QPoint(cell.left, cell.top), QPoint(cell.right - 1, cell.bottom - 1));
            const bool lit = m_hovered && c <= m_hovered->columns && r <= m_hovered->rows;
            painter.fillRect(area, QColor(lit ? 0xE6E6E6 : 0x828282));
            if (lit) painter.fillRect(area.adjusted(1, 1, -1, -1), QColor(0xB4B4B4));
        }
    }
}

void CSplitChooser::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const std::optional<GridSize> cell = ChooserCellAt(at.x(), at.y());
    if (cell == m_hovered) return;
    m_hovered = cell;
    update();
}

void CSplitChooser::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    // A press outside a popup closes it, as any popup does.
    if (!rect().contains(at)) {
        hide();
        return;
    }
    mouseMoveEvent(event);
    if (event->button() != Qt::LeftButton || !m_hovered) return;
    const GridSize cell = *m_hovered;
    m_hovered.reset();
    hide();
    emit chosen(cell.columns + 1, cell.rows + 1);
}

void CSplitChooser::mouseReleaseEvent(QMouseEvent*) {}

}  // namespace vexel
