// The hook bus: named hooks that objects subscribe callbacks to, and delivery of an event
// on the user-interface thread from any thread, the caller waiting for the answer.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "engine/hook_types.h"
#include "engine/ui_dispatcher.h"

namespace vexel {

class CHookTable;

class CVexelEngine {
public:
    // The engine thread is the dispatcher's UI thread. The dispatcher must outlive the engine.
    explicit CVexelEngine(CUIDispatcher& dispatcher);
    virtual ~CVexelEngine();
    CVexelEngine(const CVexelEngine&) = delete;
    CVexelEngine& operator=(const CVexelEngine&) = delete;

    bool IsEngineThread() const { return m_dispatcher.IsUIThread(); }

    // Empty handle when the name is empty, already registered or the ids are used up.
    HookHandle RegisterHook(std::string_view name);
    // 0 = removed, 1 = not found.
    uint32_t UnregisterHook(HookHandle hook);
    // Cookie (hook id << 16) | (slot index + 1); 0 when no hook has that name, the callback
    // is null or the hook has no slot number left.
    uint32_t Subscribe(std::string_view hookName, HookCallback callback, void* context);
    // 0 = removed, 1 = no such hook or slot (a zero cookie included).
    uint32_t Unsubscribe(uint32_t cookie);
    // Calls the subscribers on the calling thread, oldest subscription first; the first
    // non-zero result, else 0; kHookFailed for a hook not in the table.
    uint32_t DeliverHook(HookHandle hook, uint32_t eventCode, uint64_t payload);
    // As DeliverHook, but always on the engine thread: another thread blocks until the
    // subscribers ran. kHookFailed also when the loop has ended or the engine is gone.
    uint32_t FireHook(HookHandle hook, uint32_t eventCode, uint64_t payload);

private:
    CUIDispatcher& m_dispatcher;
    // Shared with deliveries still queued on the loop, which fail once it is closed.
    std::shared_ptr<CHookTable> m_table;
};

}  // namespace vexel
