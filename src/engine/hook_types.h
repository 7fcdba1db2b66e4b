// Values shared by the hook bus and its users.
#pragma once

#include <cstdint>

namespace vexel {

// A subscriber receives (event code, payload, context); the first non-zero result stops
// the delivery and becomes its result.
using HookCallback = uint32_t (*)(uint32_t eventCode, uint64_t payload, void* context);

// Names a registered hook by its id; ids are never reused, so a handle of a removed hook
// stays invalid.
struct HookHandle {
    uint32_t id = 0;
    explicit operator bool() const { return id != 0; }
    friend bool operator==(HookHandle, HookHandle) = default;
};

// Delivery result for a hook that is unknown, removed, or cannot be reached any more.
inline constexpr uint32_t kHookFailed = 0xFFFFFFFFu;
// Hook names longer than this are cut.
inline constexpr size_t kMaxHookNameLength = 127;
// A cookie is (hook id << 16) | (slot index + 1): ids and slot numbers must fit 16 bits.
inline constexpr uint32_t kMaxHookId = 0xFFFF;
inline constexpr uint32_t kMaxHookSlots = 0xFFFF;

}  // namespace vexel
