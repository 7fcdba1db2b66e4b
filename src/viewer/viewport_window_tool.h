// The window/level tool of a viewport: the drag that changes centre and width, the presets
// and the negative toggle, and the window each new frame opens with.
#pragma once

#include <cstdint>

#include "viewer/viewport_tool.h"
#include "viewer/viewport_window_state.h"

namespace vexel {

class CSeriesStateStore;
class CWindowPresetTable;

// Window change for a drag of `distance` pixels along one axis (sign kept): slow near the
// press, faster further away; PET values span far more than CT values.
float WindowDragSensitivity(int32_t distance, bool pet);

class CViewport2DWindow final : public CViewport2DTool {
public:
    CViewport2DWindow(CViewport2D& viewport, const CWindowPresetTable& presets,
                      CSeriesStateStore& store);

    ToolAnswer MouseDown(int32_t x, int32_t y, MouseButton button) override;
    ToolAnswer MouseMove(int32_t x, int32_t y) override;
    ToolAnswer MouseUp(int32_t x, int32_t y, MouseButton button) override;
    void FrameChanged(CDicomFrame* frame) override;

    // Each re-renders when the look-up changed.
    bool SelectPreset(int32_t id);
    void ApplyWindow(float centre, float width);
    void SetNegative(bool negative);
    // Series memory into the store (Clear, export).
    void FlushStates() { m_state.FlushStates(); }
    // The viewport shows nothing any more.
    void ClearState() { m_state.Clear(); }

    const CViewportWindowState& State() const { return m_state; }

private:
    void ShowNewWindow();

    CViewportWindowState m_state;
    int32_t m_pressX = 0;
    int32_t m_pressY = 0;
    float m_startCentre = 0;
    float m_startWidth = 0;
    bool m_dragging = false;
};

}  // namespace vexel
