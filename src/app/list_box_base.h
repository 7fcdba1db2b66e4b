// An owner-drawn list of rows of varying height, 150 pixels wide: the visible range, the
// slim scroll bar while not every row fits, a back buffer the rows are drawn into, and the
// mouse: a marked row, the hovered row with its tooltip, and a press that ends as a click
// or, once the cursor has moved far enough, as a drag that may be dropped outside the list.
// Subclasses draw the rows and answer the press, click and drag.
#pragma once

#include <QImage>
#include <QPoint>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "viewer/scroll_bar.h"

namespace vexel {

class CViewportScrollBarWidget;

class CListBoxBase : public QWidget, private CMyScrollBarHost {
    Q_OBJECT

public:
    static constexpr int kWidth = 150;
    static constexpr QRgb kBackground = 0x646464;
    // A press becomes a drag once the cursor is this far from it, across or down.
    static constexpr int kDragDistance = 21;
    static constexpr int kTooltipDelayMs = 2000;
    static constexpr int kTooltipWidth = 200;

    struct ListItem {
        uint32_t height = 0;
        bool selectable = false;
    };

    explicit CListBoxBase(QWidget* parent = nullptr);
    ~CListBoxBase() override;

    int Count() const { return int(m_items.size()); }
    const ListItem& Item(int index) const { return m_items[size_t(index)]; }

    // Rows are only inserted, and removed all at once.
    void InsertItem(int index, ListItem item);
    void RemoveAllItems();

    // -1 when there is none.
    int FirstVisible() const { return m_first; }
    int LastVisible() const { return m_last; }
    bool LastRowCut() const { return m_lastCut; }
    int Marked() const { return m_marked; }
    int Hovered() const { return m_hovered; }
    int PressedIndex() const { return m_pressed; }
    bool Dragging() const { return m_dragging; }
    bool ScrollBarShown() const { return m_scrollShown; }
    const CMyScrollBar& ScrollBar() const { return m_scrollBar; }
    int ClientWidth() const;
    // The row under y (client coordinates) among the visible ones, or -1.
    int HitTest(int y) const;
    // A visible row's rectangle in client coordinates; empty for others.
    QRect RowRect(int index) const;
    // The tooltip the hovered row shows (empty for none).
    const QString& CurrentTooltip() const { return m_tooltip; }

    // Marks a row (-1: none) and redraws the rows that changed.
    void SetMarked(int index);
    // Makes a row visible: one after the last visible, the cut last one, or one before the
    // first becomes the first visible row.
    virtual void ScrollToRow(int index);
    // Moves the first visible row by `rows` (negative: towards the top).
    void ScrollBy(int rows);
    // The next (+1) or previous (-1) selectable row from `from`, or -1.
    int NextSelectable(int from, int direction) const;
    // A press, click and release on a row, as the keyboard makes them.
    void ActivateRow(int index);

    // Draws the visible rows again.
    void Redraw();
    // The same, at most every 40 ms: for changes that come in bursts (a scan
    // inserting rows in view), so drawing does not slow the scan down.
    void RedrawSoon();
    void RedrawRow(int index);

protected:
    virtual void SizeChanged() {}
    virtual void DrawRow(QPainter& painter, int index, const ListItem& item, const QRect& rect,
                         bool marked) = 0;
    virtual void Pressed(int index) = 0;
    virtual void Released(int index) = 0;
    virtual void Clicked(int index) = 0;
    virtual void DragStarted(int index, QPoint globalPos) = 0;
    virtual void DragEnded() = 0;
    virtual void Dragged(int index, QPoint globalPos) = 0;
    virtual void DroppedOutside(int index, QPoint globalPos) = 0;
    virtual QString TooltipText(int index) = 0;

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void ScrolledTo(int32_t position) override;
    // Visible range and scroll bar from the first visible row and the client size.
    void Layout();
    void UpdateScrollBar();
    QSize BackBufferSize() const;  // the client area
    void DrawBackBuffer();
    void SetHovered(int index);
    void HideTooltip();
    void ShowTooltip();

    std::vector<ListItem> m_items;
    int m_first = -1;
    int m_last = -1;
    bool m_lastCut = false;
    int m_marked = -1;
    int m_hovered = -1;
    int m_pressed = -1;
    QPoint m_pressPoint;  // global
    bool m_dragging = false;
    bool m_dragged = false;  // the press in progress became a drag

    CMyScrollBar m_scrollBar{*this};
    CViewportScrollBarWidget* m_scrollWidget = nullptr;  // child, made on first need
    bool m_scrollShown = false;

    QImage m_backBuffer;
    bool m_backBufferValid = false;
    QElapsedTimer m_lastFullDraw;
    QTimer m_pacedRedraw;
    QString m_tooltip;
    QTimer m_tooltipTimer;
};

}  // namespace vexel
