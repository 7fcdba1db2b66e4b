// The hook bus's state: hooks sorted by name, their subscriber slots and the one-entry
// cache of the last validated hook. Thread-safe; delivery runs on the caller's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/hook_types.h"

namespace vexel {

class CHookTable {
public:
    CHookTable() = default;
    CHookTable(const CHookTable&) = delete;
    CHookTable& operator=(const CHookTable&) = delete;

    HookHandle RegisterHook(std::string_view name);
    uint32_t UnregisterHook(HookHandle hook);
    uint32_t Subscribe(std::string_view hookName, HookCallback callback, void* context);
    uint32_t Unsubscribe(uint32_t cookie);
    uint32_t DeliverHook(HookHandle hook, uint32_t eventCode, uint64_t payload);
    bool IsValid(HookHandle hook);
    // After Close nothing is delivered any more; queued deliveries fail.
    void Close();

private:
    struct Slot {
        HookCallback callback = nullptr;  // null: empty slot
        void* context = nullptr;
        uint64_t serial = 0;  // order of subscription over the whole table
    };
    struct Entry {
        std::string name;
        uint32_t id = 0;
        std::vector<Slot> slots;
        bool removed = false;
        // Held while the subscribers run; re-entrant so a subscriber may fire the same hook.
        std::recursive_mutex deliveryMutex;
    };
    using EntryPtr = std::shared_ptr<Entry>;

    std::vector<EntryPtr>::iterator FindByName(const std::string& name);
    std::vector<EntryPtr>::iterator FindById(uint32_t id);
    EntryPtr Validate(HookHandle hook);
    bool NextSubscriber(Entry& entry, size_t index, uint64_t serialLimit, Slot& slot);

    std::mutex m_mutex;  // guards everything below and every entry's slots
    std::vector<EntryPtr> m_hooks;
    EntryPtr m_lastValidated;
    uint32_t m_nextId = 1;
    uint64_t m_nextSerial = 1;
    bool m_closed = false;
};

}  // namespace vexel
