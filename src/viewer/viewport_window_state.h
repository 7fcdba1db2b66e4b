// What the window tool of one viewport decides and remembers, apart from the mouse drag: the
// chosen preset, a window asked for before any image was shown, the window each frame opens
// with (the series' last window, the image's own window, or the PET rule) and the last
// window of each series, handed to the series state store when the viewport is cleared.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "viewer/window_state.h"

namespace vexel {

class CDicomFrame;
class CDicomImage;
class CDisplayLUT;
class CSeriesStateStore;
class CWindowPresetTable;

class CViewportWindowState {
public:
    // All three outlive this object (the viewport owns the look-up; the others are the
    // process's).
    CViewportWindowState(CDisplayLUT& lut, const CWindowPresetTable& presets,
                         CSeriesStateStore& store);

    // A new frame is on screen (the frame stays valid until the next call or Clear): picks
    // its window. True when the tables were rebuilt.
    bool ShowFrame(CDicomFrame& frame, std::string_view seriesKey);
    // The viewport shows nothing any more: the series memory goes to the store and the
    // negative flag is switched off.
    void Clear();

    // Menu and keys. An id that is not in the table is ignored (false).
    bool SelectPreset(int32_t id);
    // Without a frame on screen the window waits for the next one.
    void ApplyWindow(float centre, float width);
    // A window drag: the preset is dropped; remembered at the release. True when rebuilt.
    bool DragWindow(float centre, float width);
    // The "Negative" toggle of the viewport; remembered for the series.
    bool SetNegative(bool negative);
    // Writes the current window into the series memory under the current series key.
    void RememberState();
    // Puts every remembered window into the store (removing the entries of series whose
    // last window was the default) and empties the memory.
    void FlushStates();

    int32_t PresetId() const { return m_presetId; }
    const std::string& PresetName() const { return m_presetName; }
    bool HasPendingWindow() const { return m_pending.has_value(); }
    // The series memory entry of a key, for the viewport's annotation and tests.
    std::optional<WindowState> Remembered(std::string_view seriesKey) const;

private:
    const CDicomImage* Image() const;
    bool IsMonochrome1() const;
    void TakePreset(int32_t id);
    bool SetWindow(float centre, float width);
    bool ApplyRemembered(const WindowState& state);
    bool ApplyOpeningWindow();
    std::optional<WindowState> LookUpRemembered();

    CDisplayLUT& m_lut;
    const CWindowPresetTable& m_presets;
    CSeriesStateStore& m_store;
    CDicomFrame* m_frame = nullptr;
    std::string m_seriesKey;
    int32_t m_presetId = -1;
    std::string m_presetName;
    std::optional<WindowLevel> m_pending;
    std::map<std::string, WindowState, std::less<>> m_memory;
};

}  // namespace vexel
