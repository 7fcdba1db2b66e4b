#include "app/viewport_widget.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>
#include <optional>

#include "app/viewport_scroll_bar_widget.h"
#include "platform/gui/shown_image.h"

namespace vexel {
namespace {

std::optional<MouseButton> ButtonOf(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton:
            return MouseButton::Left;
        case Qt::RightButton:
            return MouseButton::Right;
        case Qt::MiddleButton:
            return MouseButton::Middle;
        default:
            return std::nullopt;
    }
}

KeyModifiers ModifiersOf(Qt::KeyboardModifiers modifiers) {
    return {modifiers.testFlag(Qt::ControlModifier), modifiers.testFlag(Qt::ShiftModifier)};
}

}  // namespace

CViewportWidget::CViewportWidget(const ViewportServices& services, QWidget* parent)
    : QWidget(parent), m_viewport(std::make_unique<CViewport2D>(services)) {
    // Every pixel is the surface's or the bar's: nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(CMyScrollBar::kWidth + 32, 32);
    m_scrollBar = new CViewportScrollBarWidget(m_viewport->ScrollBar(), this);
    m_viewport->ScrollBar().onChanged = [bar = m_scrollBar] { bar->update(); };
    m_viewport->Create(*this);
}

CViewportWidget::~CViewportWidget() {
    // The bar widget must not be called by the core bar any more, nor paint it after it goes.
    m_viewport->ScrollBar().onChanged = nullptr;
    delete m_scrollBar;
    m_scrollBar = nullptr;
}

void CViewportWidget::PresentSurface(const CViewportSurface& surface, const PixelRect* rect) {
    const QRect whole(0, 0, surface.Width(), surface.Height());
    const QRect part =
        rect != nullptr ? QRect(rect->x, rect->y, rect->width, rect->height) & whole : whole;
    // The core expects the copy to be on screen when this returns.
    if (!part.isEmpty()) repaint(part);
    emit Presented();
}

void CViewportWidget::paintEvent(QPaintEvent* event) {
    ++m_paints;
    QPainter painter(this);
    const CViewportSurface& surface = m_viewport->Surface();
    const QRect covered(0, 0, surface.Width(), surface.Height());
    const QRect part = event->rect() & covered;
    if (!part.isEmpty()) {
        DrawPixels(painter, surface.Pixels(), surface.Width(), surface.Height(), surface.Width(),
                   part);
    }
    // Before the first layout (or when the surface could not grow) the rest is black.
    for (const QRect& rest : event->region() - QRegion(covered))
        painter.fillRect(rest, Qt::black);
}

void CViewportWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_scrollBar->setGeometry(width() - CMyScrollBar::kWidth, 0, CMyScrollBar::kWidth, height());
    // The whole client area: the core takes the bar's strip off itself.
    m_viewport->SizeChanged(width(), height());
}

void CViewportWidget::mousePressEvent(QMouseEvent* event) {
    const std::optional<MouseButton> button = ButtonOf(event->button());
    if (!button) return QWidget::mousePressEvent(event);
    const QPoint at = event->position().toPoint();
    m_viewport->MouseDown(at.x(), at.y(), *button, ModifiersOf(event->modifiers()));
}

void CViewportWidget::mouseReleaseEvent(QMouseEvent* event) {
    const std::optional<MouseButton> button = ButtonOf(event->button());
    if (!button) return QWidget::mouseReleaseEvent(event);
    const QPoint at = event->position().toPoint();
    m_viewport->MouseUp(at.x(), at.y(), *button);
}

void CViewportWidget::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    m_viewport->MouseMove(at.x(), at.y());
}

void CViewportWidget::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta == 0) return QWidget::wheelEvent(event);
    event->accept();
    // Touchpads send many small deltas: only whole notches browse, the rest is kept for the
    // next event. Turning back starts afresh.
    if ((delta > 0) != (m_wheelRemainder > 0)) m_wheelRemainder = 0;
    m_wheelRemainder += delta;
    const int notches = m_wheelRemainder / kWheelNotch;
    if (notches == 0) return;
    m_wheelRemainder -= notches * kWheelNotch;
    // With Ctrl the wheel zooms, 15 steps a notch (away from the user enlarges).
    if (event->modifiers().testFlag(Qt::ControlModifier)) {
        m_viewport->ZoomBy(notches * kWheelZoomStep);
        return;
    }
    m_viewport->MouseWheel(notches * kWheelNotch);
}

void CViewportWidget::leaveEvent(QEvent* event) {
    m_viewport->MouseLeft();
    QWidget::leaveEvent(event);
}

}  // namespace vexel
