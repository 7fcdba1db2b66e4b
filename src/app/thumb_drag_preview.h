// The picture that follows the cursor while a series row is dragged out of the thumbnail
// box: a small frameless window that never takes the mouse or the focus.
#pragma once

#include <QImage>
#include <QWidget>

namespace vexel {

class CThumbDragPreview final : public QWidget {
    Q_OBJECT

public:
    // A window of its own, deleted with its parent.
    explicit CThumbDragPreview(QWidget* parent);

    // Shows `image` with its top-left corner at the cursor (global coordinates).
    void ShowAt(const QImage& image, QPoint globalPos);
    void MoveTo(QPoint globalPos);
    const QImage& Image() const { return m_image; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
};

}  // namespace vexel
