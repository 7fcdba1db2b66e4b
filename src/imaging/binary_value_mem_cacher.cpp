#include "imaging/binary_value_mem_cacher.h"

#include <cstring>
#include <limits>

namespace vexel {

CBinaryValueMemCacher::CBinaryValueMemCacher(std::function<bool()> critical,
                                             const IMemoryLoadSource* load)
    : m_critical(std::move(critical)), m_load(load) {}

CBinaryValueMemCacher::~CBinaryValueMemCacher() = default;

int CBinaryValueMemCacher::Store(std::string_view key, std::string_view group, const uint8_t* bytes,
                                 size_t size) {
    if (key.empty() || bytes == nullptr || size == 0) return kBadArguments;
    bool critical = false;
    try {
        critical = m_critical && m_critical();
    } catch (...) {
        critical = true;
    }
    // Allocated before the lock: the allocator's emergency release may call Free on us.
    CheckedPtr<uint8_t> copy;
    if (!critical) {
        copy.reset(static_cast<uint8_t*>(CheckedAlloc(size)));
        if (copy) std::memcpy(copy.get(), bytes, size);
    }
    CheckedPtr<uint8_t> replaced;  // freed after the lock is released
    std::lock_guard lock(m_lock);
    const auto found = m_entries.find(key);
    if (critical || !copy) {
        // The caller meant to replace that value; it must not be served as current.
        if (found != m_entries.end()) EraseLocked(found);
        return critical ? kMemoryPressure : kNoMemoryForBytes;
    }
    if (found == m_entries.end()) return StoreNewLocked(key, group, std::move(copy), size);

    Entry& entry = found->second;
    if (entry.group != group) {
        std::string newGroup;
        try {
            newGroup.assign(group);
            m_groups[newGroup].insert(found->first);
        } catch (...) {
            EraseLocked(found);
            return kNoMemoryForKey;
        }
        const auto oldGroup = m_groups.find(entry.group);
        if (oldGroup != m_groups.end()) {
            oldGroup->second.erase(found->first);
            if (oldGroup->second.empty()) m_groups.erase(oldGroup);
        }
        entry.group = std::move(newGroup);
    }
    m_totalBytes = m_totalBytes - entry.size + size;
    if (entry.stale) m_staleBytes -= entry.size;
    entry.stale = false;
    replaced = std::move(entry.bytes);
    entry.bytes = std::move(copy);
    entry.size = size;
    return kStored;
}

int CBinaryValueMemCacher::StoreNewLocked(std::string_view key, std::string_view group,
                                          CheckedPtr<uint8_t> bytes, size_t size) {
    std::string keyText;
    std::string groupText;
    try {
        keyText.assign(key);
        groupText.assign(group);
    } catch (...) {
        return kNoMemoryForKey;
    }
    decltype(m_entries)::iterator entry;
    try {
        entry = m_entries.try_emplace(std::move(keyText)).first;
    } catch (...) {
        return kNoMemoryForEntry;
    }
    try {
        m_groups[groupText].insert(entry->first);
    } catch (...) {
        m_entries.erase(entry);
        return kNoMemoryForKey;
    }
    entry->second.size = size;
    entry->second.bytes = std::move(bytes);
    entry->second.group = std::move(groupText);
    m_totalBytes += size;
    return kStored;
}

void CBinaryValueMemCacher::EraseLocked(std::map<std::string, Entry, std::less<>>::iterator entry) {
    m_totalBytes -= entry->second.size;
    if (entry->second.stale) m_staleBytes -= entry->second.size;
    const auto group = m_groups.find(entry->second.group);
    if (group != m_groups.end()) {
        group->second.erase(entry->first);
        if (group->second.empty()) m_groups.erase(group);
    }
    m_entries.erase(entry);
}

int CBinaryValueMemCacher::Fetch(std::string_view key, uint8_t* destination, size_t size) const {
    if (destination == nullptr || size == 0 || key.empty()) return kBadArguments;
    std::lock_guard lock(m_lock);
    const auto found = m_entries.find(key);
    if (found == m_entries.end()) return kNotStored;
    if (found->second.stale || found->second.size != size) return kStaleOrResized;
    std::memcpy(destination, found->second.bytes.get(), size);
    return kFetched;
}

void CBinaryValueMemCacher::MarkStale(std::string_view group) {
    std::lock_guard lock(m_lock);
    const auto found = m_groups.find(group);
    if (found == m_groups.end()) return;
    for (const std::string& key : found->second) {
        const auto entry = m_entries.find(key);
        if (entry == m_entries.end() || entry->second.stale) continue;
        entry->second.stale = true;
        m_staleBytes += entry->second.size;
    }
}

void CBinaryValueMemCacher::Remove(std::string_view group) {
    std::lock_guard lock(m_lock);
    for (;;) {
        // EraseLocked drops the group with its last key.
        const auto found = m_groups.find(group);
        if (found == m_groups.end()) return;
        const auto entry = m_entries.find(*found->second.begin());
        if (entry == m_entries.end()) {
            found->second.erase(found->second.begin());  // never expected: keys follow entries
            if (found->second.empty()) m_groups.erase(found);
            continue;
        }
        EraseLocked(entry);
    }
}

uint64_t CBinaryValueMemCacher::Free(uint64_t mebibytes) {
    const uint64_t wanted = mebibytes > (std::numeric_limits<uint64_t>::max() >> 20)
                                ? std::numeric_limits<uint64_t>::max()
                                : mebibytes << 20;
    uint64_t freed = 0;
    std::lock_guard lock(m_lock);
    while (freed < wanted && !m_entries.empty()) {
        freed += m_entries.begin()->second.size;
        EraseLocked(m_entries.begin());
    }
    return freed >> 20;
}

bool CBinaryValueMemCacher::Fits(uint64_t mebibytes) const {
    uint64_t room = 1024ull << 20;  // assumed when the load cannot be read
    std::optional<MemoryStatus> status;
    try {
        if (m_load != nullptr) status = m_load->Read();
    } catch (...) {
        status.reset();
    }
    if (status) {
        const uint64_t total = TotalBytes();
        const uint64_t own = status->processResidentBytes;
        const uint64_t have = own + std::min(status->availableBytes, ~own);
        room = have > total ? have - total : 0;
    }
    // mebibytes * 2^20 <= 0.8 * room, in integers without overflow.
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    if (mebibytes > (kMax / 5) >> 20) return false;
    if (room > kMax / 4) return true;
    return (mebibytes << 20) * 5 <= room * 4;
}

uint64_t CBinaryValueMemCacher::TotalBytes() const {
    std::lock_guard lock(m_lock);
    return m_totalBytes;
}

uint64_t CBinaryValueMemCacher::StaleBytes() const {
    std::lock_guard lock(m_lock);
    return m_staleBytes;
}

}  // namespace vexel
