// The window presets of the viewer: the image's own window, full dynamic range and the fixed
// CT windows, with the texts their menu entries and the window annotation show.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace vexel {

inline constexpr int32_t kPresetNone = -1;        // the window was set by hand
inline constexpr int32_t kPresetDefault = 0;      // the image's own window
inline constexpr int32_t kPresetFullDynamic = 1;  // the current frame's value range
inline constexpr uint32_t kNegativeMenuTextId = 1221;
inline constexpr const char* kNegativeShortcut = "F11";

struct WindowPreset {
    int32_t id = kPresetNone;
    std::string name;  // shown in square brackets by the window annotation; UTF-8
    float centre = 0;  // modality units (Hounsfield units for the CT presets)
    float width = 0;
    uint32_t menuTextId = 0;  // 0: no menu entry
    uint32_t nameTextId = 0;  // 0: the name is empty
    char key = '\0';          // digit on the main keyboard and the keypad; '\0' for none
    bool IsFixed() const { return id > kPresetFullDynamic; }
};

// Text of a text id in the user's language; empty when unknown.
using TextLookup = std::function<std::string(uint32_t textId)>;

// The preset table, built once after the translations are loaded.
class CWindowPresetTable {
public:
    // Without a lookup (or where it gives nothing) the names are the English ones.
    explicit CWindowPresetTable(const TextLookup& lookup = {});

    std::span<const WindowPreset> All() const { return m_presets; }
    // Null for an id that is not in the table.
    const WindowPreset* Find(int32_t id) const;
    // The preset a digit key selects, or null.
    const WindowPreset* FindByKey(char key) const;

private:
    std::vector<WindowPreset> m_presets;
};

}  // namespace vexel
