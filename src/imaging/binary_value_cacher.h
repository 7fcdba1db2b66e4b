// The disk cache of decoded frames: a frame that was slow to decode, or that cannot be
// decoded again (reconstructions), moves its buffer here when memory is short and reads it
// back later. Writing and deleting happen on two background threads, so releasing memory
// never waits for the disk.
//
// Entry n lives at <root>/cache/XX/YY/ZZ/WW with XX, YY, ZZ, WW the four bytes of n, high
// byte first, as two hexadecimal digits; the file holds the buffer's bytes and nothing else.
// A CRC-32 of the buffer is kept with the entry and checked on every load, so a missing,
// short or damaged file makes the caller decode again instead of showing wrong pixels.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/checked_alloc.h"

namespace vexel {

struct DiskCacheLimits {
    uint64_t maxTotalBytes = 8192ull << 20;  // written entries together
    uint64_t minFreeBytes = 1024ull << 20;   // left free on the cache's volume
};

class CBinaryValueCacher {
public:
    // Free bytes of the volume holding the folder; empty when unknown (counted as 0).
    using FreeSpaceProbe = std::function<std::optional<uint64_t>(const std::filesystem::path&)>;

    // The probe defaults to statvfs.
    explicit CBinaryValueCacher(std::filesystem::path root, DiskCacheLimits limits = {},
                                FreeSpaceProbe freeSpace = {});
    // Stops both threads, drops writes still pending and deletes every file the cache made,
    // its folders included.
    ~CBinaryValueCacher();
    CBinaryValueCacher(const CBinaryValueCacher&) = delete;
    CBinaryValueCacher& operator=(const CBinaryValueCacher&) = delete;

    // Takes over a guarded buffer of size bytes and queues it for writing; returns its id.
    // Returns 0 and leaves the buffer with the caller when the cache is stopping or out of
    // ids, or when the buffer is null, empty or shorter than size. Entries that are not evictable
    // (their owner cannot produce them again) are never evicted, and keep their memory copy when
    // the write fails.
    uint32_t Store(CheckedPtr<uint8_t>& buffer, size_t size, bool evictable);
    // Copies the entry into destination; false for an unknown id, another size, a file that
    // is missing, short or fails its checksum.
    bool Load(uint32_t id, uint8_t* destination, size_t size);
    // Forgets the entry and queues its file for deletion; returns its size, 0 if unknown.
    size_t Delete(uint32_t id);

    // Temporary files handed to other loaders (the ZIP reader uses group "zip"). The file is
    // created new (never an existing file or a link), mode 0600, empty and open for writing;
    // the caller closes it.
    struct GroupFile {
        std::filesystem::path path;
        std::FILE* stream = nullptr;
    };
    std::optional<GroupFile> NewGroupFile(std::string_view group);
    // Queues every file of the group for deletion.
    void DeleteGroup(std::string_view group);
    // Queues the files of the group that `deletable` allows for deletion; the rest stay.
    void DeleteGroupFiles(std::string_view group,
                          const std::function<bool(const std::filesystem::path&)>& deletable);
    // Free bytes of the cache's volume beyond the reserve kept free.
    uint64_t FreeBytesBeyondReserve() const;

    static std::filesystem::path EntryPath(const std::filesystem::path& root, uint32_t id);
    const std::filesystem::path& Root() const { return m_root; }
    uint64_t TotalBytes() const;
    size_t EntryCount() const;
    // Blocks until every queued write and deletion is done (tests, benchmarks, shutdown).
    void WaitIdle();

private:
    // The buffer is shared by the entry and its pending write, so whichever lets go last
    // frees it.
    using SharedBuffer = std::shared_ptr<CheckedPtr<uint8_t>>;
    struct Entry {
        std::filesystem::path path;  // empty until written
        size_t size = 0;
        SharedBuffer memory;  // until written; kept when a non-evictable write fails
        bool evictable = true;
        uint32_t crc = 0;
    };
    struct PendingWrite {
        uint32_t id = 0;
        size_t size = 0;
        SharedBuffer buffer;
    };
    struct PendingDeletion {
        std::filesystem::path path;
        uint64_t bytes = 0;  // entry bytes the volume gets back, 0 for group files
    };

    void WriterLoop();
    void DeleterLoop();
    void WriteOne(std::unique_lock<std::mutex>& lock, PendingWrite write);
    void FinishWriteLocked(const PendingWrite& write, std::filesystem::path path, bool written);
    void CheckSpaceLocked(uint64_t freeBytes);
    uint64_t ProbeFreeBytes() const;
    size_t DeleteLocked(uint32_t id);
    void QueueDeletionLocked(std::filesystem::path path, uint64_t bytes);
    uint32_t NextIdLocked();
    bool IdleLocked() const;
    void RemoveEverything();

    std::filesystem::path m_root;
    DiskCacheLimits m_limits;
    FreeSpaceProbe m_freeSpace;

    mutable std::mutex m_lock;
    std::condition_variable m_writerWake;
    std::condition_variable m_deleterWake;
    std::condition_variable m_idle;
    std::map<uint32_t, Entry> m_entries;
    std::deque<PendingWrite> m_pendingWrites;
    std::deque<uint32_t> m_evictionOrder;
    std::deque<PendingDeletion> m_pendingDeletions;
    // Evicted bytes whose files are not deleted yet: the free-space probe cannot see them.
    uint64_t m_pendingDeletionBytes = 0;
    std::map<std::string, std::vector<std::filesystem::path>, std::less<>> m_groups;
    uint32_t m_lastId = 0;
    uint64_t m_totalBytes = 0;
    bool m_writing = false;
    bool m_deleting = false;
    bool m_stop = false;
    std::thread m_writer;
    std::thread m_deleter;
};

}  // namespace vexel
