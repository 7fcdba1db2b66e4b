// Display look-up of one viewport: modality value (stored value after Rescale Slope and
// Intercept) to an 8-bit grey level by the linear VOI function of PS3.3 C.11.2.1.2.1,
// optionally inverted. Precomputed as two tables over every modality value from -65,536 to
// 65,535 so that drawing only indexes a table per pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/checked_alloc.h"

namespace vexel {

class CDicomImage;
class CSeriesStateStore;

class CDisplayLUT {
public:
    static constexpr int32_t kLowestValue = -65536;
    static constexpr int32_t kHighestValue = 65535;
    static constexpr size_t kEntries = 131072;

    // Told the new centre and width after every rebuild (the owning viewport's annotation).
    using RebuildListener = std::function<void(float centre, float width)>;

    // Both tables start as zeros; centre and width 0.
    CDisplayLUT();
    CDisplayLUT(const CDisplayLUT&) = delete;
    CDisplayLUT& operator=(const CDisplayLUT&) = delete;

    // False when the tables could not be allocated: the look-up then never draws.
    bool IsValid() const { return m_grey != nullptr && m_bytes != nullptr; }
    void SetRebuildListener(RebuildListener listener) { m_listener = std::move(listener); }

    // Rewrites both tables for the window; a width below 1 counts as 1. Without force an
    // unchanged window, width and polarity cost nothing. False when nothing was rebuilt,
    // including for a centre or width that is not a finite number (the window stays).
    bool SetWindow(float centre, float width, bool monochrome1, bool force);
    // The user's "Negative" toggle; rebuilds when the flag changes. True when it did.
    bool SetNegative(bool negative);
    // The image's own window (Window Center/Width, else the full dynamic range of its first
    // frame, computed once per image and kept in the store). False for a null image.
    bool SetDefaultWindow(const CDicomImage* image, CSeriesStateStore& store);

    float Centre() const { return m_centre; }
    float Width() const { return m_width; }
    bool Negative() const { return m_negative; }
    bool Monochrome1() const { return m_monochrome1; }
    // Entry i is the colour 0x00GGGGGG of modality value i - 65,536; null when not valid.
    const uint32_t* GreyTable() const { return m_grey.get(); }
    // Entry i is the grey level of modality value i - 65,536; null when not valid.
    const uint8_t* ByteTable() const { return m_bytes.get(); }
    // Table index of a modality value, clamped to the table's ends.
    static size_t IndexOf(int64_t modalityValue);

private:
    void Rebuild();
    void FillRange(size_t from, size_t to, uint8_t level);

    float m_centre = 0;
    float m_width = 0;
    bool m_negative = false;
    bool m_monochrome1 = false;
    RebuildListener m_listener;
    CheckedPtr<uint32_t> m_grey;
    CheckedPtr<uint8_t> m_bytes;
};

}  // namespace vexel
