#include "viewer/window_preset.h"

#include <array>

namespace vexel {
namespace {

struct PresetRow {
    int32_t id;
    uint32_t menuTextId;
    uint32_t nameTextId;
    const char* englishName;
    float centre;
    float width;
    char key;
};

constexpr std::array<PresetRow, 9> kPresetRows{{
    {kPresetNone, 0, 0, "", 0, 0, '\0'},
    {kPresetDefault, 1201, 8001, "D", 0, 0, '0'},
    {kPresetFullDynamic, 1202, 8002, "F", 0, 0, '1'},
    {2, 1203, 8003, "CT Abdomen", 60, 400, '2'},
    {3, 1204, 8004, "CT Angio", 300, 600, '3'},
    {4, 1205, 8005, "CT Bone", 300, 1500, '4'},
    {5, 1206, 8006, "CT Brain", 40, 80, '5'},
    {6, 1207, 8007, "CT Chest", 40, 400, '6'},
    {7, 1208, 8008, "CT Lungs", -400, 1500, '7'},
}};

}  // namespace

CWindowPresetTable::CWindowPresetTable(const TextLookup& lookup) {
    m_presets.reserve(kPresetRows.size());
    for (const PresetRow& row : kPresetRows) {
        WindowPreset preset;
        preset.id = row.id;
        preset.name = row.englishName;
        if (lookup && row.nameTextId != 0) {
            std::string translated = lookup(row.nameTextId);
            if (!translated.empty()) preset.name = std::move(translated);
        }
        preset.centre = row.centre;
        preset.width = row.width;
        preset.menuTextId = row.menuTextId;
        preset.nameTextId = row.nameTextId;
        preset.key = row.key;
        m_presets.push_back(std::move(preset));
    }
}

const WindowPreset* CWindowPresetTable::Find(int32_t id) const {
    for (const WindowPreset& preset : m_presets) {
        if (preset.id == id) return &preset;
    }
    return nullptr;
}

const WindowPreset* CWindowPresetTable::FindByKey(char key) const {
    if (key == '\0') return nullptr;
    for (const WindowPreset& preset : m_presets) {
        if (preset.key == key) return &preset;
    }
    return nullptr;
}

}  // namespace vexel
