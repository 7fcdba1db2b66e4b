#include "engine/hook_table.h"

#include <algorithm>
#include <new>

namespace vexel {

namespace {

// Names are C strings of at most 127 bytes: stop at a zero byte, cut what is longer.
std::string HookName(std::string_view name) {
    name = name.substr(0, name.find('\0'));
    return std::string(name.substr(0, kMaxHookNameLength));
}

constexpr auto kNameBefore = [](const auto& entry, const std::string& name) {
    return entry->name < name;
};

}  // namespace

// std::string compares byte by byte as unsigned char, the order the table is sorted in.
std::vector<CHookTable::EntryPtr>::iterator CHookTable::FindByName(const std::string& name) {
    auto it = std::lower_bound(m_hooks.begin(), m_hooks.end(), name, kNameBefore);
    return it != m_hooks.end() && (*it)->name == name ? it : m_hooks.end();
}

std::vector<CHookTable::EntryPtr>::iterator CHookTable::FindById(uint32_t id) {
    return std::find_if(m_hooks.begin(), m_hooks.end(),
                        [id](const EntryPtr& entry) { return entry->id == id; });
}

HookHandle CHookTable::RegisterHook(std::string_view name) {
    std::string key = HookName(name);
    std::lock_guard lock(m_mutex);
    if (key.empty() || m_closed || m_nextId > kMaxHookId) return {};
    if (FindByName(key) != m_hooks.end()) return {};
    try {
        auto entry = std::make_shared<Entry>();
        entry->name = std::move(key);
        entry->id = m_nextId;
        // Before an equal name, where the search ends; names are unique anyway.
        auto position = std::lower_bound(m_hooks.begin(), m_hooks.end(), entry->name, kNameBefore);
        m_hooks.insert(position, entry);
    } catch (const std::bad_alloc&) {
        return {};
    }
    return HookHandle{m_nextId++};
}

uint32_t CHookTable::UnregisterHook(HookHandle hook) {
    std::lock_guard lock(m_mutex);
    auto it = FindById(hook.id);
    if (!hook || it == m_hooks.end()) return 1;
    // A delivery in progress holds its own reference and stops at its next subscriber.
    (*it)->removed = true;
    (*it)->slots.clear();
    if (m_lastValidated == *it) m_lastValidated.reset();
    m_hooks.erase(it);
    return 0;
}

uint32_t CHookTable::Subscribe(std::string_view hookName, HookCallback callback, void* context) {
    std::string key = HookName(hookName);
    std::lock_guard lock(m_mutex);
    auto it = FindByName(key);
    if (!callback || it == m_hooks.end()) return 0;
    Entry& entry = **it;
    if (entry.slots.size() >= kMaxHookSlots) return 0;
    try {
        entry.slots.push_back(Slot{callback, context, m_nextSerial});
    } catch (const std::bad_alloc&) {
        return 0;
    }
    ++m_nextSerial;
    return (entry.id << 16) | static_cast<uint32_t>(entry.slots.size());
}

uint32_t CHookTable::Unsubscribe(uint32_t cookie) {
    const uint32_t id = cookie >> 16;
    const uint32_t slotNumber = cookie & 0xFFFFu;
    std::lock_guard lock(m_mutex);
    auto it = FindById(id);
    if (id == 0 || slotNumber == 0 || it == m_hooks.end()) return 1;
    std::vector<Slot>& slots = (*it)->slots;
    if (slotNumber > slots.size() || !slots[slotNumber - 1].callback) return 1;
    slots[slotNumber - 1] = Slot{};
    // Middle slots stay empty so that later cookies keep their meaning.
    while (!slots.empty() && !slots.back().callback)
        slots.pop_back();
    if (slots.empty()) slots.shrink_to_fit();
    return 0;
}

CHookTable::EntryPtr CHookTable::Validate(HookHandle hook) {
    std::lock_guard lock(m_mutex);
    if (!hook || m_closed) return nullptr;
    if (m_lastValidated && m_lastValidated->id == hook.id) return m_lastValidated;
    auto it = FindById(hook.id);
    if (it == m_hooks.end()) return nullptr;
    m_lastValidated = *it;
    return m_lastValidated;
}

bool CHookTable::IsValid(HookHandle hook) {
    return Validate(hook) != nullptr;
}

// Copies slot index out under the table lock so that the callback runs without it. Slots
// filled after the delivery started (serial at or above the limit) wait for the next event.
bool CHookTable::NextSubscriber(Entry& entry, size_t index, uint64_t serialLimit, Slot& slot) {
    std::lock_guard lock(m_mutex);
    if (entry.removed || m_closed || index >= entry.slots.size()) return false;
    slot = entry.slots[index];
    if (slot.serial >= serialLimit) slot.callback = nullptr;
    return true;
}

uint32_t CHookTable::DeliverHook(HookHandle hook, uint32_t eventCode, uint64_t payload) {
    EntryPtr entry = Validate(hook);
    if (!entry) return kHookFailed;
    std::lock_guard delivery(entry->deliveryMutex);
    uint64_t serialLimit = 0;
    {
        std::lock_guard lock(m_mutex);
        serialLimit = m_nextSerial;
    }
    Slot slot;
    for (size_t index = 0; NextSubscriber(*entry, index, serialLimit, slot); ++index) {
        if (!slot.callback) continue;
        const uint32_t result = slot.callback(eventCode, payload, slot.context);
        if (result != 0) return result;
    }
    return 0;
}

void CHookTable::Close() {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_lastValidated.reset();
}

}  // namespace vexel
