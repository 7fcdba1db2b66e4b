// The window side of a viewport's scroll bar: paints the core bar's track and thumb in the
// strip at the viewport's right edge and hands it the mouse in bar coordinates.
#pragma once

#include <QWidget>

namespace vexel {

class CMyScrollBar;

class CViewportScrollBarWidget final : public QWidget {
    Q_OBJECT

public:
    // The bar must outlive the widget's painting; its owner detaches onChanged first.
    CViewportScrollBarWidget(CMyScrollBar& bar, QWidget* parent);

    CMyScrollBar& Bar() const { return m_bar; }

    // Dark theme.
    static constexpr QRgb kTrackColour = 0x202020;
    static constexpr QRgb kFrameColour = 0x3a3a3a;
    static constexpr QRgb kThumbColour = 0x606060;
    static constexpr QRgb kThumbHoverColour = 0x808080;
    static constexpr QRgb kThumbDragColour = 0xa0a0a0;
    static constexpr QRgb kGripColour = 0x303030;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    CMyScrollBar& m_bar;
};

}  // namespace vexel
