// The four hooks every part of the program may subscribe to, their events and payloads.
// Payloads are 64-bit values: an id, or the address of one of the records below.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/hook_types.h"

namespace vexel {

class CVexelEngine;

inline constexpr std::string_view kWorkspaceHookName = "VexelHook/Workspace/PanelEvent";
inline constexpr std::string_view kViewport2DHookName = "VexelHook/Viewport2D/Event";
inline constexpr std::string_view kApplicationHookName = "VexelHook/Application/Shutdown";
inline constexpr std::string_view kVolumeManagerHookName = "VexelHook/VolumeManager/Event";

// Payload: the panel id.
enum class WorkspaceEvent : uint32_t {
    PanelCreated = 1,
    PanelRemoving = 2,  // its load job is cancelled right after
    PanelActivated = 3,
    PanelEmptied = 4,
};

enum class Viewport2DEvent : uint32_t {
    WindowDragFinished = 1,     // panel id
    Cleared = 2,                // panel id
    FirstImageShown = 3,        // panel id
    CineChanged = 4,            // CineStatePayload*
    DisplayedImageChanged = 5,  // record whose first u32 is the viewport id
    LookupChanged = 6,          // panel id
    ImageListChanged = 7,       // panel id
    SeriesClearing = 8,         // viewport id
};

enum class ApplicationEvent : uint32_t {
    Shutdown = 0,  // payload 0; fired before teardown
};

enum class VolumeManagerEvent : uint32_t {
    VolumesComputed = 1,  // VolumesComputedPayload*
    VolumesReleased = 2,  // viewport id
};

struct CineStatePayload {
    uint32_t panelId;
    uint8_t panelIsActive;
    uint8_t playing;
};

struct VolumesComputedPayload {
    uint32_t viewportId;
    uint32_t volumeCount;
};

struct SystemHooks {
    HookHandle workspace;
    HookHandle viewport2D;
    HookHandle application;
    HookHandle volumeManager;
};

// Registers Workspace, Viewport2D, Application and VolumeManager, in that order. False (and
// nothing left registered) when one of them cannot be registered.
bool RegisterSystemHooks(CVexelEngine& engine, SystemHooks& hooks);
// Unregisters Viewport2D, Workspace, Application and VolumeManager and clears the handles.
void UnregisterSystemHooks(CVexelEngine& engine, SystemHooks& hooks);

constexpr uint32_t EventCode(auto event) {
    return static_cast<uint32_t>(event);
}

}  // namespace vexel
