#include "viewer/window_state.h"

#include <cstring>

namespace vexel {

std::array<uint8_t, kWindowStateSize> EncodeWindowState(const WindowState& state) {
    std::array<uint8_t, kWindowStateSize> block{};
    std::memcpy(block.data(), &state.presetId, 4);
    std::memcpy(block.data() + 4, &state.centre, 4);
    std::memcpy(block.data() + 8, &state.width, 4);
    block[12] = state.negative != 0 ? 1 : 0;
    return block;
}

std::optional<WindowState> DecodeWindowState(const uint8_t* bytes, size_t length) {
    if (bytes == nullptr || length != kWindowStateSize) return std::nullopt;
    WindowState state;
    std::memcpy(&state.presetId, bytes, 4);
    std::memcpy(&state.centre, bytes + 4, 4);
    std::memcpy(&state.width, bytes + 8, 4);
    state.negative = bytes[12] != 0 ? 1 : 0;
    return state;
}

}  // namespace vexel
