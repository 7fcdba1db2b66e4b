#include "viewer/viewport_window_tool.h"

#include <cmath>

#include <cstdlib>

#include "dicom/dicom_file.h"
#include "engine/system_hooks.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "viewer/viewport_2d.h"

namespace vexel {
namespace {

struct SensitivitySegment {
    float slope;
    float offset;
};

// Segments of 100 pixels; each offset continues the previous segment.
constexpr SensitivitySegment kOtherSegments[] = {{0.5f, 0}, {1, 50}, {2, 150}, {4, 350}, {8, 750}};
constexpr SensitivitySegment kPetSegments[] = {
    {2, 0}, {10, 200}, {20, 1200}, {50, 3200}, {100, 8200}};

}  // namespace

float WindowDragSensitivity(int32_t distance, bool pet) {
    const int64_t d = std::llabs(int64_t(distance));
    const int64_t segment = std::min<int64_t>(d / 100, 4);
    const SensitivitySegment& s = pet ? kPetSegments[segment] : kOtherSegments[segment];
    const float value = float(d - segment * 100) * s.slope + s.offset;
    return distance < 0 ? -value : value;
}

CViewport2DWindow::CViewport2DWindow(CViewport2D& viewport, const CWindowPresetTable& presets,
                                     CSeriesStateStore& store)
    : CViewport2DTool(viewport, ToolType::Window), m_state(viewport.Lut(), presets, store) {}

ToolAnswer CViewport2DWindow::MouseDown(int32_t x, int32_t y, MouseButton) {
    if (m_viewport.ImageCount() == 0) return ToolAnswer::NotHandled;
    m_pressX = x;
    m_pressY = y;
    m_startCentre = m_viewport.Lut().Centre();
    m_startWidth = m_viewport.Lut().Width();
    m_active = m_dragging = true;
    return ToolAnswer::Capture;
}

ToolAnswer CViewport2DWindow::MouseMove(int32_t x, int32_t y) {
    if (!m_dragging || Image() == nullptr) return ToolAnswer::NotHandled;
    const bool pet = Image()->File().Modality() == ModalityCode::PT;
    // Right widens the window, up raises the centre.
    // The drag in logical pixels: the window moves as fast at every device pixel ratio.
    const float ratio = m_viewport.DevicePixelRatio();
    const auto logical = [ratio](int32_t device) {
        return int32_t(std::lround(double(device) / ratio));
    };
    const float width =
        m_startWidth + WindowDragSensitivity(logical(DragDistance(x, m_pressX)), pet);
    const float centre =
        m_startCentre - WindowDragSensitivity(logical(DragDistance(y, m_pressY)), pet);
    if (m_state.DragWindow(centre, width)) {
        m_viewport.Render();
        m_viewport.RedrawRect(nullptr);
    }
    return ToolAnswer::Handled;
}

ToolAnswer CViewport2DWindow::MouseUp(int32_t, int32_t, MouseButton) {
    if (!m_dragging) return ToolAnswer::NotHandled;
    m_active = m_dragging = false;
    m_state.RememberState();
    m_viewport.NotifyWindowDragFinished();
    m_viewport.Compose();
    m_viewport.Present();
    return ToolAnswer::NotHandled;
}

void CViewport2DWindow::FrameChanged(CDicomFrame* frame) {
    if (frame == nullptr) return;
    m_state.ShowFrame(*frame, m_viewport.SeriesKey());
}

bool CViewport2DWindow::SelectPreset(int32_t id) {
    if (!m_state.SelectPreset(id)) return false;
    if (Frame() != nullptr) ShowNewWindow();
    return true;
}

void CViewport2DWindow::ApplyWindow(float centre, float width) {
    m_state.ApplyWindow(centre, width);
    if (Frame() != nullptr) ShowNewWindow();
}

void CViewport2DWindow::SetNegative(bool negative) {
    if (m_state.SetNegative(negative)) ShowNewWindow();
}

void CViewport2DWindow::ShowNewWindow() {
    m_viewport.RenderComposePresent();
}

}  // namespace vexel
