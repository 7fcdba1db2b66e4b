#include "app/list_box_base.h"

#include <QCursor>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <cstdlib>

#include "app/viewport_scroll_bar_widget.h"

namespace vexel {
namespace {

constexpr int kPacedRedrawMs = 40;

// Plain lines as tooltip text, wrapped at the tooltip's width when a line is longer.
QString TooltipHtml(const QString& text) {
    const QStringList lines = text.split('\n');
    const QFontMetrics metrics(QToolTip::font());
    int widest = 0;
    for (const QString& line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    QStringList escaped;
    for (const QString& line : lines)
        escaped << line.toHtmlEscaped();
    const QString body = escaped.join("<br>");
    if (widest <= CListBoxBase::kTooltipWidth) return "<p style='white-space:pre'>" + body + "</p>";
    return QString("<table width='%1'><tr><td>%2</td></tr></table>")
        .arg(CListBoxBase::kTooltipWidth)
        .arg(body);
}

}  // namespace

CListBoxBase::CListBoxBase(QWidget* parent) : QWidget(parent) {
    setFixedWidth(kWidth);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::ArrowCursor);
    m_tooltipTimer.setSingleShot(true);
    m_pacedRedraw.setSingleShot(true);
    connect(&m_pacedRedraw, &QTimer::timeout, this, [this] { update(); });
    m_tooltipTimer.setInterval(kTooltipDelayMs);
    connect(&m_tooltipTimer, &QTimer::timeout, this, [this] { ShowTooltip(); });
    m_scrollBar.onChanged = [this] {
        if (m_scrollWidget != nullptr) m_scrollWidget->update();
    };
}

CListBoxBase::~CListBoxBase() {
    // The bar widget paints from m_scrollBar, which goes before the children do.
    m_scrollBar.onChanged = nullptr;
    delete m_scrollWidget;
}

// ---- rows ----

void CListBoxBase::InsertItem(int index, ListItem item) {
    index = std::clamp(index, 0, Count());
    m_items.insert(m_items.begin() + index, item);
    // Every index that names a row at or after the new one follows its row, so a press made
    // before the insert still ends on the row that was pressed.
    for (int* named : {&m_first, &m_marked, &m_hovered, &m_pressed})
        if (*named >= index) ++*named;
    Layout();
    // A row below the last one shown changes nothing drawn here (the scroll bar draws
    // itself): a scan that lists hundreds of series below the view repaints nothing.
    if (index <= m_last || !m_backBufferValid) RedrawSoon();
}

void CListBoxBase::RemoveAllItems() {
    if (m_dragging) {
        m_dragging = false;
        DragEnded();
    }
    m_items.clear();
    m_first = m_last = m_marked = m_hovered = m_pressed = -1;
    m_lastCut = m_dragged = false;
    HideTooltip();
    Layout();
    Redraw();
}

// ---- layout ----

int CListBoxBase::ClientWidth() const {
    return std::max(width() - (m_scrollShown ? CMyScrollBar::kWidth : 0), 0);
}

void CListBoxBase::Layout() {
    const int count = Count();
    if (count == 0) {
        m_first = m_last = -1;
        m_lastCut = false;
        UpdateScrollBar();
        return;
    }
    m_first = std::clamp(m_first, 0, count - 1);
    const int64_t client = height();
    int64_t sum = 0;
    int row = m_first;
    for (; row < count; ++row) {
        sum += Item(row).height;
        if (sum >= client) break;
    }
    m_last = std::min(row, count - 1);
    m_lastCut = sum > client;
    // At the end the list stays flush with the bottom: no empty space while rows above
    // could fill it.
    if (m_last == count - 1) {
        while (m_first > 0 && sum + Item(m_first - 1).height <= client) {
            --m_first;
            sum += Item(m_first).height;
        }
    }
    UpdateScrollBar();
}

void CListBoxBase::UpdateScrollBar() {
    const int count = Count();
    const bool show = count > 0 && !(m_first == 0 && m_last == count - 1 && !m_lastCut);
    if (show) {
        // The last first-visible row: every row from it to the end fits.
        int fitting = 0;
        int64_t sum = 0;
        for (int row = count - 1; row >= 0; --row) {
            sum += Item(row).height;
            if (sum > height()) break;
            ++fitting;
        }
        if (m_scrollWidget == nullptr) {
            m_scrollWidget = new CViewportScrollBarWidget(m_scrollBar, this);
            m_scrollWidget->setGeometry(width() - CMyScrollBar::kWidth, 0, CMyScrollBar::kWidth,
                                        height());
        }
        m_scrollBar.SetHeight(height());
        m_scrollBar.SetRange(std::max(count - fitting, 1) + 1, m_first);
    } else if (m_scrollShown) {
        m_scrollBar.Deactivate();
    }
    if (show == m_scrollShown) return;
    m_scrollShown = show;
    m_scrollWidget->setVisible(show);
    // The client width changed.
    m_backBufferValid = false;
    SizeChanged();
}

int CListBoxBase::HitTest(int y) const {
    if (y < 0 || m_first < 0) return -1;
    int64_t bottom = 0;
    for (int row = m_first; row <= m_last; ++row) {
        bottom += Item(row).height;
        if (bottom > y) return row;
    }
    return -1;
}

QRect CListBoxBase::RowRect(int index) const {
    if (m_first < 0 || index < m_first || index > m_last) return {};
    int top = 0;
    for (int row = m_first; row < index; ++row)
        top += int(Item(row).height);
    return QRect(0, top, ClientWidth(), int(Item(index).height));
}

// ---- scrolling and marking ----

void CListBoxBase::ScrolledTo(int32_t position) {
    m_first = position;
    Layout();
    HideTooltip();
    Redraw();
}

void CListBoxBase::ScrollBy(int rows) {
    if (Count() == 0 || rows == 0) return;
    m_first = int(std::clamp<int64_t>(int64_t(m_first) + rows, 0, Count() - 1));
    Layout();
    HideTooltip();
    Redraw();
}

void CListBoxBase::ScrollToRow(int index) {
    if (index < 0 || index >= Count()) return;
    if (index > m_last || (index == m_last && m_lastCut) || index < m_first) {
        m_first = index;
        Layout();
        HideTooltip();
        Redraw();
    }
}

void CListBoxBase::SetMarked(int index) {
    if (index < -1 || index >= Count() || index == m_marked) return;
    const int previous = m_marked;
    m_marked = index;
    RedrawRow(previous);
    RedrawRow(index);
}

int CListBoxBase::NextSelectable(int from, int direction) const {
    if (direction == 0) return -1;
    direction = direction > 0 ? 1 : -1;
    for (int row = from + direction; row >= 0 && row < Count(); row += direction)
        if (Item(row).selectable) return row;
    return -1;
}

void CListBoxBase::ActivateRow(int index) {
    // The keyboard does not interrupt a press of the mouse.
    if (index < 0 || index >= Count() || m_pressed >= 0) return;
    m_pressed = index;
    Pressed(index);
    Clicked(m_pressed);
    if (m_pressed >= 0) Released(m_pressed);
    m_pressed = -1;
}

// ---- painting ----

void CListBoxBase::Redraw() {
    m_backBufferValid = false;
    update();
}

void CListBoxBase::RedrawSoon() {
    m_backBufferValid = false;
    if (m_pacedRedraw.isActive()) return;
    const qint64 since = m_lastFullDraw.isValid() ? m_lastFullDraw.elapsed() : kPacedRedrawMs;
    if (since >= kPacedRedrawMs) return update();
    m_pacedRedraw.start(int(kPacedRedrawMs - since));
}

void CListBoxBase::RedrawRow(int index) {
    const QRect rect = RowRect(index);
    if (rect.isEmpty()) return;
    if (!m_backBufferValid) {
        // A paced redraw after inserts draws this row too.
        if (!m_pacedRedraw.isActive()) update();
        return;
    }
    QPainter painter(&m_backBuffer);
    painter.setClipRect(rect);
    DrawRow(painter, index, Item(index), rect, index == m_marked);
    update(rect);
}

QSize CListBoxBase::BackBufferSize() const {
    return {std::max(ClientWidth(), 1), std::max(height(), 1)};
}

void CListBoxBase::DrawBackBuffer() {
    const QSize size = BackBufferSize();
    // In device pixels, so that text and thumbnails stay sharp on scaled screens.
    const qreal ratio = devicePixelRatioF();
    if (m_backBuffer.deviceIndependentSize() != QSizeF(size) ||
        m_backBuffer.devicePixelRatio() != ratio) {
        m_backBuffer = QImage(size * ratio, QImage::Format_RGB32);
        m_backBuffer.setDevicePixelRatio(ratio);
    }
    QPainter painter(&m_backBuffer);
    int top = 0;
    for (int row = m_first; row >= 0 && row <= m_last; ++row) {
        const QRect rect(0, top, size.width(), int(Item(row).height));
        painter.save();
        painter.setClipRect(rect);
        DrawRow(painter, row, Item(row), rect, row == m_marked);
        painter.restore();
        top += rect.height();
    }
    if (top < size.height())
        painter.fillRect(0, top, size.width(), size.height() - top, QColor(kBackground));
    m_backBufferValid = true;
    m_lastFullDraw.start();
}

void CListBoxBase::paintEvent(QPaintEvent* event) {
    if (!m_backBufferValid || m_backBuffer.deviceIndependentSize() != QSizeF(BackBufferSize()) ||
        m_backBuffer.devicePixelRatio() != devicePixelRatioF()) {
        DrawBackBuffer();
    }
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.drawImage(QPoint(0, 0), m_backBuffer);
}

void CListBoxBase::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_scrollWidget != nullptr)
        m_scrollWidget->setGeometry(width() - CMyScrollBar::kWidth, 0, CMyScrollBar::kWidth,
                                    height());
    m_scrollBar.SetHeight(height());
    Layout();
    SizeChanged();
    Redraw();
}

// ---- mouse ----

void CListBoxBase::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    const QPoint at = event->position().toPoint();
    const int row = at.x() < ClientWidth() ? HitTest(at.y()) : -1;
    if (row < 0) return;
    // Qt keeps sending the mouse here until the button is released.
    HideTooltip();
    m_pressed = row;
    m_pressPoint = event->globalPosition().toPoint();
    m_dragging = m_dragged = false;
    Pressed(row);
}

void CListBoxBase::mouseMoveEvent(QMouseEvent* event) {
    const QPoint global = event->globalPosition().toPoint();
    if (m_pressed >= 0 && (event->buttons() & Qt::LeftButton)) {
        if (!m_dragging && (std::abs(global.x() - m_pressPoint.x()) >= kDragDistance ||
                            std::abs(global.y() - m_pressPoint.y()) >= kDragDistance)) {
            m_dragging = m_dragged = true;
            DragStarted(m_pressed, global);
        }
        if (m_dragging) Dragged(m_pressed, global);
        return;
    }
    const QPoint at = event->position().toPoint();
    SetHovered(at.x() >= 0 && at.x() < ClientWidth() ? HitTest(at.y()) : -1);
}

void CListBoxBase::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    const bool dragged = m_dragged;
    if (m_dragging) {
        m_dragging = false;
        DragEnded();
    }
    m_dragged = false;
    if (m_pressed < 0) return;
    const QPoint at = event->position().toPoint();
    // The whole window counts as the list: a drop on its own scroll bar does nothing.
    if (!rect().contains(at)) {
        DroppedOutside(m_pressed, event->globalPosition().toPoint());
    } else if (!dragged && at.x() < ClientWidth() && HitTest(at.y()) == m_pressed) {
        Clicked(m_pressed);
    }
    // The handlers may have emptied the list.
    if (m_pressed >= 0) Released(m_pressed);
    m_pressed = -1;
}

void CListBoxBase::leaveEvent(QEvent* event) {
    SetHovered(-1);
    QWidget::leaveEvent(event);
}

// ---- tooltip ----

void CListBoxBase::SetHovered(int index) {
    if (index == m_hovered) return;
    m_hovered = index;
    m_tooltip = index >= 0 ? TooltipText(index) : QString();
    QToolTip::hideText();
    if (m_tooltip.isEmpty()) {
        m_tooltipTimer.stop();
    } else {
        m_tooltipTimer.start();
    }
}

void CListBoxBase::HideTooltip() {
    m_tooltipTimer.stop();
    m_tooltip.clear();
    // The next move asks the row under the cursor again.
    m_hovered = -1;
    QToolTip::hideText();
}

void CListBoxBase::ShowTooltip() {
    if (m_hovered < 0 || m_tooltip.isEmpty() || m_pressed >= 0) return;
    QToolTip::showText(QCursor::pos(), TooltipHtml(m_tooltip), this, RowRect(m_hovered));
}

}  // namespace vexel
