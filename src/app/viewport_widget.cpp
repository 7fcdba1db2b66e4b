#include "app/viewport_widget.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>
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
    m_viewport->SetDevicePixelRatio(float(devicePixelRatioF()));
    m_viewport->Create(*this);
}

CViewportWidget::~CViewportWidget() {
    // The bar widget must not be called by the core bar any more, nor paint it after it goes.
    m_viewport->ScrollBar().onChanged = nullptr;
    delete m_scrollBar;
    m_scrollBar = nullptr;
}

namespace {

// Device pixels to the logical pixels that cover them.
QRect CoveringLogical(const QRect& device, qreal ratio) {
    const QRectF logical(device.x() / ratio, device.y() / ratio, device.width() / ratio,
                         device.height() / ratio);
    return logical.toAlignedRect();
}

}  // namespace

void CViewportWidget::PresentSurface(const CViewportSurface& surface, const PixelRect* rect) {
    const QRect whole(0, 0, surface.Width(), surface.Height());
    const QRect part =
        rect != nullptr ? QRect(rect->x, rect->y, rect->width, rect->height) & whole : whole;
    const QRect logical = CoveringLogical(part, m_viewport->DevicePixelRatio());
    // The core expects the copy to be on screen when this returns; a present made while
    // painting (the ratio caught up there) is painted next, as painting cannot recurse.
    if (m_painting && !part.isEmpty()) {
        update(logical);
    } else if (!part.isEmpty()) {
        repaint(logical);
    }
    emit Presented();
}

bool CViewportWidget::FollowPixelRatio() {
    const auto ratio = float(devicePixelRatioF());
    if (ratio == m_viewport->DevicePixelRatio()) return false;
    m_viewport->SetDevicePixelRatio(ratio);
    return true;
}

QPoint CViewportWidget::DevicePoint(const QPointF& logical) const {
    // A device pixel divided by the ratio comes back as itself despite rounding.
    const double ratio = m_viewport->DevicePixelRatio();
    return {int(std::floor(logical.x() * ratio + 1e-3)),
            int(std::floor(logical.y() * ratio + 1e-3))};
}

void CViewportWidget::paintEvent(QPaintEvent* event) {
    // A ratio that changed without an event this widget saw (a move between screens while
    // hidden) is caught before anything stale is shown.
    if (FollowPixelRatio()) {
        m_painting = true;
        m_viewport->SizeChanged(width(), height());
        m_painting = false;
    }
    ++m_paints;
    QPainter painter(this);
    const CViewportSurface& surface = m_viewport->Surface();
    const qreal ratio = m_viewport->DevicePixelRatio();
    const QRect covered(0, 0, surface.Width(), surface.Height());
    // The device pixels of the exposed part, drawn 1:1: the surface is tagged with the
    // ratio, so no pixel is scaled.
    const QRect part =
        QRect(QRectF(QRectF(event->rect()).topLeft() * ratio, QRectF(event->rect()).size() * ratio)
                  .toAlignedRect()) &
        covered;
    if (!part.isEmpty()) {
        DrawPixels(painter, surface.Pixels(), surface.Width(), surface.Height(), surface.Width(),
                   part, ratio);
    }
    // Before the first layout (or when the surface could not grow) the rest is black.
    const QRect coveredLogical(QPoint(0, 0), (QSizeF(covered.size()) / ratio).toSize());
    for (const QRect& rest : event->region() - QRegion(coveredLogical))
        painter.fillRect(rest, Qt::black);
}

void CViewportWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_scrollBar->setGeometry(width() - CMyScrollBar::kWidth, 0, CMyScrollBar::kWidth, height());
    FollowPixelRatio();
    // The whole client area, logical: the core takes the bar's strip off itself and counts
    // the surface in device pixels.
    m_viewport->SizeChanged(width(), height());
}

bool CViewportWidget::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // A move to a screen of another ratio (or a ratio change of the screen) draws again at
    // the new ratio.
    bool screenChange = event->type() == QEvent::ScreenChangeInternal;
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    screenChange = screenChange || event->type() == QEvent::DevicePixelRatioChange;
#endif
    if (screenChange && FollowPixelRatio()) m_viewport->SizeChanged(width(), height());
    return handled;
}

void CViewportWidget::mousePressEvent(QMouseEvent* event) {
    const std::optional<MouseButton> button = ButtonOf(event->button());
    if (!button) return QWidget::mousePressEvent(event);
    const QPoint at = DevicePoint(event->position());
    m_viewport->MouseDown(at.x(), at.y(), *button, ModifiersOf(event->modifiers()));
}

void CViewportWidget::mouseReleaseEvent(QMouseEvent* event) {
    const std::optional<MouseButton> button = ButtonOf(event->button());
    if (!button) return QWidget::mouseReleaseEvent(event);
    const QPoint at = DevicePoint(event->position());
    m_viewport->MouseUp(at.x(), at.y(), *button);
}

void CViewportWidget::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = DevicePoint(event->position());
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
