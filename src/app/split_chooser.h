// The split-screen chooser: a popup of 5 x 4 cells; the cells up to the one under the mouse
// light up, and a click on it chooses that many columns and rows.
#pragma once

#include <QWidget>
#include <optional>

#include "app/workspace_grid.h"

namespace vexel {

class CSplitChooser final : public QWidget {
    Q_OBJECT

public:
    explicit CSplitChooser(QWidget* parent = nullptr);
    // Shows the popup with its top-left corner at `global`.
    void Popup(const QPoint& global);
    std::optional<GridSize> Hovered() const { return m_hovered; }

signals:
    // 1..5 columns, 1..4 rows.
    void chosen(uint32_t columns, uint32_t rows);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::optional<GridSize> m_hovered;
};

}  // namespace vexel
