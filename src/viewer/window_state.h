// The remembered window of one series, as the series state store keeps it: 16 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "viewer/window_preset.h"

namespace vexel {

struct WindowLevel {
    float centre = 0;
    float width = 0;
    bool operator==(const WindowLevel&) const = default;
};

struct WindowState {
    int32_t presetId = kPresetNone;
    float centre = 0;
    float width = 0;
    uint8_t negative = 0;
    bool operator==(const WindowState&) const = default;
};

inline constexpr size_t kWindowStateSize = 16;

// Machine byte order: the block never leaves the process.
std::array<uint8_t, kWindowStateSize> EncodeWindowState(const WindowState& state);
// Nothing unless the block is exactly 16 bytes.
std::optional<WindowState> DecodeWindowState(const uint8_t* bytes, size_t length);

}  // namespace vexel
