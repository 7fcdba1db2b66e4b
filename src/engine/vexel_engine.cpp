#include "engine/vexel_engine.h"

#include "engine/hook_table.h"

namespace vexel {

CVexelEngine::CVexelEngine(CUIDispatcher& dispatcher)
    : m_dispatcher(dispatcher), m_table(std::make_shared<CHookTable>()) {}

CVexelEngine::~CVexelEngine() {
    m_table->Close();
}

HookHandle CVexelEngine::RegisterHook(std::string_view name) {
    return m_table->RegisterHook(name);
}

uint32_t CVexelEngine::UnregisterHook(HookHandle hook) {
    return m_table->UnregisterHook(hook);
}

uint32_t CVexelEngine::Subscribe(std::string_view hookName, HookCallback callback, void* context) {
    return m_table->Subscribe(hookName, callback, context);
}

uint32_t CVexelEngine::Unsubscribe(uint32_t cookie) {
    return m_table->Unsubscribe(cookie);
}

uint32_t CVexelEngine::DeliverHook(HookHandle hook, uint32_t eventCode, uint64_t payload) {
    return m_table->DeliverHook(hook, eventCode, payload);
}

uint32_t CVexelEngine::FireHook(HookHandle hook, uint32_t eventCode, uint64_t payload) {
    if (IsEngineThread()) return m_table->DeliverHook(hook, eventCode, payload);
    // The task holds the table, not the engine: an engine destroyed meanwhile fails it.
    auto result = m_dispatcher.CallOnUIThread([table = m_table, hook, eventCode, payload] {
        return table->DeliverHook(hook, eventCode, payload);
    });
    return result.value_or(kHookFailed);
}

}  // namespace vexel
