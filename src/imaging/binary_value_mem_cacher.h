// A memory cache of rendered display bitmaps, keyed by text and grouped so that a viewport
// can mark or drop all of its entries at once. Stores refuse when memory is critical.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "platform/checked_alloc.h"
#include "platform/memory_load.h"

namespace vexel {

class CBinaryValueMemCacher {
public:
    // Store status.
    static constexpr int kStored = 0;
    static constexpr int kMemoryPressure = -2;
    static constexpr int kNoMemoryForEntry = -3;
    static constexpr int kNoMemoryForKey = -4;
    static constexpr int kNoMemoryForBytes = -5;
    // Fetch status.
    static constexpr int kFetched = 0;
    static constexpr int kBadArguments = -1;
    static constexpr int kNotStored = -2;
    static constexpr int kStaleOrResized = -3;

    // critical answers whether memory load is critical (stores are then refused); load
    // feeds Fits. Either may be empty or null: never critical, and Fits assumes 1 GiB.
    explicit CBinaryValueMemCacher(std::function<bool()> critical = {},
                                   const IMemoryLoadSource* load = nullptr);
    ~CBinaryValueMemCacher();
    CBinaryValueMemCacher(const CBinaryValueMemCacher&) = delete;
    CBinaryValueMemCacher& operator=(const CBinaryValueMemCacher&) = delete;

    // An empty key, null bytes or size 0 give kBadArguments. Storing an existing key replaces
    // its value (and moves it to group); when that store is refused, the old value is dropped
    // so that it can never be fetched as current.
    int Store(std::string_view key, std::string_view group, const uint8_t* bytes, size_t size);
    int Fetch(std::string_view key, uint8_t* destination, size_t size) const;
    void MarkStale(std::string_view group);
    void Remove(std::string_view group);
    // Drops entries in key order until at least mebibytes are freed; returns MiB freed.
    uint64_t Free(uint64_t mebibytes);
    // True when mebibytes is at most 80 % of (process resident - cache bytes + available).
    bool Fits(uint64_t mebibytes) const;

    uint64_t TotalBytes() const;
    uint64_t StaleBytes() const;

private:
    struct Entry {
        size_t size = 0;
        CheckedPtr<uint8_t> bytes;
        bool stale = false;
        std::string group;
    };

    void EraseLocked(std::map<std::string, Entry, std::less<>>::iterator entry);
    int StoreNewLocked(std::string_view key, std::string_view group, CheckedPtr<uint8_t> bytes,
                       size_t size);

    std::function<bool()> m_critical;
    const IMemoryLoadSource* m_load;
    mutable std::mutex m_lock;
    std::map<std::string, Entry, std::less<>> m_entries;
    std::map<std::string, std::set<std::string, std::less<>>, std::less<>> m_groups;
    uint64_t m_totalBytes = 0;
    uint64_t m_staleBytes = 0;
};

}  // namespace vexel
