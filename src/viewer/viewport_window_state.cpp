#include "viewer/viewport_window_state.h"

#include "dicom/dicom_file.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "viewer/default_window.h"
#include "viewer/display_lut.h"
#include "viewer/series_state_store.h"
#include "viewer/window_preset.h"

namespace vexel {
namespace {

// PET opens inverted over 0..20000 Bq/ml: activity shows dark on white.
constexpr WindowLevel kPetWindow{10000, 20000};

}  // namespace

CViewportWindowState::CViewportWindowState(CDisplayLUT& lut, const CWindowPresetTable& presets,
                                           CSeriesStateStore& store)
    : m_lut(lut), m_presets(presets), m_store(store) {}

const CDicomImage* CViewportWindowState::Image() const {
    return m_frame != nullptr ? &m_frame->Image() : nullptr;
}

bool CViewportWindowState::IsMonochrome1() const {
    const CDicomImage* image = Image();
    return image != nullptr && image->Photometric() == PhotometricCode::Monochrome1;
}

void CViewportWindowState::TakePreset(int32_t id) {
    const WindowPreset* preset = m_presets.Find(id);
    m_presetId = id;
    if (preset != nullptr) m_presetName = preset->name;
}

bool CViewportWindowState::SetWindow(float centre, float width) {
    return m_lut.SetWindow(centre, width, IsMonochrome1(), false);
}

bool CViewportWindowState::ShowFrame(CDicomFrame& frame, std::string_view seriesKey) {
    m_frame = &frame;
    m_seriesKey.assign(seriesKey);
    if (m_pending) {
        const WindowLevel pending = *m_pending;
        m_pending.reset();
        m_presetId = kPresetNone;
        m_presetName.clear();
        const bool rebuilt = SetWindow(pending.centre, pending.width);
        RememberState();
        return rebuilt;
    }
    const auto remembered = LookUpRemembered();
    if (remembered && remembered->presetId != kPresetDefault) return ApplyRemembered(*remembered);
    return ApplyOpeningWindow();
}

std::optional<WindowState> CViewportWindowState::LookUpRemembered() {
    const auto found = m_memory.find(m_seriesKey);
    if (found != m_memory.end()) return found->second;
    const auto stored = m_store.GetWindowState(m_seriesKey);
    if (stored) m_memory.insert_or_assign(m_seriesKey, *stored);
    return stored;
}

bool CViewportWindowState::ApplyRemembered(const WindowState& state) {
    TakePreset(state.presetId);
    // Both calls are free when nothing differs; the polarity of each image is still
    // checked, so a MONOCHROME1 image in a MONOCHROME2 series is not shown inverted.
    bool rebuilt = m_lut.SetNegative(state.negative != 0);
    rebuilt |= SetWindow(state.centre, state.width);
    return rebuilt;
}

bool CViewportWindowState::ApplyOpeningWindow() {
    const CDicomImage* image = Image();
    if (image->File().Modality() != ModalityCode::PT) {
        TakePreset(kPresetDefault);
        return m_lut.SetDefaultWindow(image, m_store);
    }
    m_presetId = kPresetNone;
    m_presetName.clear();
    bool rebuilt = m_lut.SetNegative(true);
    rebuilt |= SetWindow(kPetWindow.centre, kPetWindow.width);
    return rebuilt;
}

void CViewportWindowState::Clear() {
    FlushStates();
    m_lut.SetNegative(false);
    m_frame = nullptr;
    m_seriesKey.clear();
}

bool CViewportWindowState::SelectPreset(int32_t id) {
    const WindowPreset* preset = m_presets.Find(id);
    if (preset == nullptr) return false;
    m_presetId = preset->id;
    m_presetName = preset->name;
    if (preset->IsFixed()) {
        ApplyWindow(preset->centre, preset->width);
        return true;
    }
    if (m_frame == nullptr) return true;
    if (id == kPresetDefault) {
        m_lut.SetDefaultWindow(Image(), m_store);
    } else if (id == kPresetFullDynamic) {
        if (const auto range = FullDynamicWindowOf(*m_frame))
            SetWindow(range->centre, range->width);
    }
    // Remembered at once: otherwise the next frame would bring back the series' earlier
    // preset.
    RememberState();
    return true;
}

void CViewportWindowState::ApplyWindow(float centre, float width) {
    if (m_frame == nullptr) {
        m_pending = WindowLevel{centre, width};
        return;
    }
    SetWindow(centre, width);
    RememberState();
}

bool CViewportWindowState::DragWindow(float centre, float width) {
    if (m_frame == nullptr) return false;
    m_presetId = kPresetNone;
    m_presetName.clear();
    return SetWindow(centre, width);
}

bool CViewportWindowState::SetNegative(bool negative) {
    if (!m_lut.SetNegative(negative)) return false;
    if (m_frame != nullptr) RememberState();
    return true;
}

void CViewportWindowState::RememberState() {
    WindowState state;
    state.presetId = m_presetId;
    state.centre = m_lut.Centre();
    state.width = m_lut.Width();
    state.negative = m_lut.Negative() ? 1 : 0;
    m_memory.insert_or_assign(m_seriesKey, state);
}

void CViewportWindowState::FlushStates() {
    for (const auto& [key, state] : m_memory) {
        if (state.presetId != kPresetDefault) {
            m_store.PutWindowState(key, state);
        } else {
            m_store.Remove(key, StateRecord::kWindowState);
        }
    }
    m_memory.clear();
}

std::optional<WindowState> CViewportWindowState::Remembered(std::string_view seriesKey) const {
    const auto found = m_memory.find(seriesKey);
    if (found == m_memory.end()) return std::nullopt;
    return found->second;
}

}  // namespace vexel
