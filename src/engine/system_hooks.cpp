#include "engine/system_hooks.h"

#include "engine/vexel_engine.h"

namespace vexel {

bool RegisterSystemHooks(CVexelEngine& engine, SystemHooks& hooks) {
    hooks.workspace = engine.RegisterHook(kWorkspaceHookName);
    hooks.viewport2D = engine.RegisterHook(kViewport2DHookName);
    hooks.application = engine.RegisterHook(kApplicationHookName);
    hooks.volumeManager = engine.RegisterHook(kVolumeManagerHookName);
    if (hooks.workspace && hooks.viewport2D && hooks.application && hooks.volumeManager) {
        return true;
    }
    UnregisterSystemHooks(engine, hooks);
    return false;
}

void UnregisterSystemHooks(CVexelEngine& engine, SystemHooks& hooks) {
    for (HookHandle* hook :
         {&hooks.viewport2D, &hooks.workspace, &hooks.application, &hooks.volumeManager}) {
        if (*hook) engine.UnregisterHook(*hook);
        *hook = HookHandle{};
    }
}

}  // namespace vexel
