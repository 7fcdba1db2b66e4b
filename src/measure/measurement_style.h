// How measurements look: a dark outline under a coloured line, crosses at the handles, and a
// label on a dark plate. Colours are 0x00RRGGBB, one per look of the element.
#pragma once

#include <cstdint>

namespace vexel {

enum class MeasurementLook : uint32_t { Normal = 0, Selected = 1, Hovered = 2 };

struct MeasurementStyle {
    uint32_t outline = 0x000000;  // a band one pixel wider each side than the line
    uint32_t line[3] = {0xFFE040, 0x40FF60, 0xFF8040};
    uint32_t handle[3] = {0x60C0FF, 0x40FF60, 0xFF8040};
    uint32_t labelPlate[3] = {0x202020, 0x103818, 0x403020};
    uint32_t labelText = 0xFFFFFF;
    int32_t fontSize = 12;
    int32_t handleArm = 4;  // a handle's cross reaches this far each way
};

inline constexpr MeasurementStyle kMeasurementStyle{};

}  // namespace vexel
