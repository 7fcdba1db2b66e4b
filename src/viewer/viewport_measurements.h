// The measurements host: routes the mouse to the list of the frame shown, creates an element
// of the chosen kind on the first movement after a press, draws the list (layer bit 4), and
// carries the delete commands. Without an installed measurement layer it does nothing.
#pragma once

#include <memory>

#include "viewer/measurement_host.h"
#include "viewer/viewport_tool.h"

namespace vexel {

class CViewport2DROI final : public CViewport2DTool {
public:
    CViewport2DROI(CViewport2D& viewport, IMeasurementLists* lists)
        : CViewport2DTool(viewport, ToolType::Measurements), m_lists(lists) {}

    ToolAnswer MouseDown(int32_t x, int32_t y, MouseButton button) override;
    ToolAnswer MouseMove(int32_t x, int32_t y) override;
    ToolAnswer MouseUp(int32_t x, int32_t y, MouseButton button) override;
    void Draw(ICanvas& canvas, const PixelRect* clip) override;
    void FrameChanged(CDicomFrame* frame) override;
    void EndDrag() override;

    MeasurementKind Kind() const { return m_kind; }
    void SetKind(MeasurementKind kind) { m_kind = kind; }

    // The main window's commands; each redraws when something was deleted.
    // Every label worked out again for the values now under it.
    void RefreshLabels();
    bool DeleteSelected();
    bool DeleteAllInImage();
    bool DeleteAllInSeries();
    // Escape: drops an element being created, else the selection.
    bool Escape();

private:
    bool Redrawn(bool deleted);

    IMeasurementLists* m_lists;
    std::unique_ptr<IMeasurementList> m_list;
    MeasurementKind m_kind = MeasurementKind::Length;
    bool m_pending = false;
    int32_t m_pressX = 0;
    int32_t m_pressY = 0;
    MouseButton m_button = MouseButton::Left;
};

}  // namespace vexel
