// The window of an on-screen 2D viewport: shows the core's surface, with the scroll bar in
// the strip at the right edge, and hands it the window's size, mouse and keys.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>

#include "viewer/viewport_2d.h"

namespace vexel {

class CViewportScrollBarWidget;

class CViewportWidget final : public QWidget, public IViewportWindow {
    Q_OBJECT

public:
    static constexpr int kWheelNotch = 120;
    static constexpr int kWheelZoomStep = 15;

    CViewportWidget(const ViewportServices& services, QWidget* parent = nullptr);
    ~CViewportWidget() override;

    CViewport2D& Viewport() const { return *m_viewport; }
    CViewportScrollBarWidget& ScrollBarWidget() const { return *m_scrollBar; }
    // Paint events so far: a present paints before it returns.
    uint64_t PaintCount() const { return m_paints; }

    void PresentSurface(const CViewportSurface& surface, const PixelRect* rect) override;

signals:
    // After every present: what is shown may have changed.
    void Presented();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    // The surface follows the screen's device pixel ratio; true when it changed.
    bool FollowPixelRatio();
    // A mouse position (logical, from Qt) in the surface's device pixels.
    QPoint DevicePoint(const QPointF& logical) const;

    std::unique_ptr<CViewport2D> m_viewport;
    CViewportScrollBarWidget* m_scrollBar = nullptr;  // child
    uint64_t m_paints = 0;
    int m_wheelRemainder = 0;  // wheel delta short of a whole notch
    bool m_painting = false;   // within paintEvent: presents are painted next
};

}  // namespace vexel
