#include "imaging/binary_value_cacher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vexel {

namespace fs = std::filesystem;

namespace {

struct FileCloser {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

uint32_t Crc32(const uint8_t* bytes, size_t size) {
    return static_cast<uint32_t>(crc32_z(crc32_z(0, nullptr, 0), bytes, size));
}

// The folder's volume, or that of its nearest existing parent while it is not made yet.
std::optional<uint64_t> StatvfsFreeBytes(const fs::path& folder) {
    struct statvfs info {};
    for (fs::path at = folder; !at.empty(); at = at.parent_path()) {
        if (statvfs(at.c_str(), &info) == 0)
            return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
        if (errno != ENOENT || at == at.parent_path()) break;
    }
    return std::nullopt;
}

// Folders are made only when the first open fails, which is rare once the tree exists.
std::FILE* OpenForWriting(const fs::path& path) {
    if (std::FILE* stream = std::fopen(path.c_str(), "wb")) return stream;
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    return std::fopen(path.c_str(), "wb");
}

// A new file only this user may read: never an existing one, never through a link.
std::FILE* CreateExclusive(const fs::path& path) {
    const auto open = [&] {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              0600);
        if (fd < 0) return static_cast<std::FILE*>(nullptr);
        std::FILE* stream = ::fdopen(fd, "wb");
        if (stream == nullptr) ::close(fd);
        return stream;
    };
    if (std::FILE* stream = open()) return stream;
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    return open();
}

bool WriteWhole(const fs::path& path, const uint8_t* bytes, size_t size) {
    std::FILE* stream = OpenForWriting(path);
    if (stream == nullptr) return false;
    const bool wrote = std::fwrite(bytes, 1, size, stream) == size;
    const bool closed = std::fclose(stream) == 0;  // a full disc may only show here
    return wrote && closed;
}

// The file must hold exactly size bytes with the entry's checksum.
bool ReadWhole(const fs::path& path, uint8_t* destination, size_t size, uint32_t crc) {
    FilePtr stream(std::fopen(path.c_str(), "rb"));
    if (!stream) return false;
    struct stat info {};
    if (fstat(fileno(stream.get()), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<uint64_t>(info.st_size) != size) {
        return false;
    }
    if (std::fread(destination, 1, size, stream.get()) != size) return false;
    return Crc32(destination, size) == crc;
}

void RemoveQuietly(const fs::path& path) {
    std::error_code error;
    fs::remove(path, error);
}

}  // namespace

CBinaryValueCacher::CBinaryValueCacher(fs::path root, DiskCacheLimits limits,
                                       FreeSpaceProbe freeSpace)
    : m_root(std::move(root)), m_limits(limits), m_freeSpace(std::move(freeSpace)) {
    if (!m_freeSpace) m_freeSpace = &StatvfsFreeBytes;
    try {
        m_writer = std::thread(&CBinaryValueCacher::WriterLoop, this);
        m_deleter = std::thread(&CBinaryValueCacher::DeleterLoop, this);
    } catch (...) {
        // Without both threads nothing would ever be written: refuse every store.
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
}

CBinaryValueCacher::~CBinaryValueCacher() {
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_writerWake.notify_all();
    m_deleterWake.notify_all();
    m_idle.notify_all();
    if (m_writer.joinable()) m_writer.join();
    if (m_deleter.joinable()) m_deleter.join();
    RemoveEverything();
}

fs::path CBinaryValueCacher::EntryPath(const fs::path& root, uint32_t id) {
    fs::path path = root / "cache";
    for (int shift = 24; shift >= 0; shift -= 8) {
        char part[3];
        std::snprintf(part, sizeof part, "%02X", static_cast<unsigned>((id >> shift) & 0xFFu));
        path /= part;
    }
    return path;
}

uint32_t CBinaryValueCacher::NextIdLocked() {
    if (m_lastId == 0xFFFFFFFFu) return 0;  // ids are never reused, so never wrap
    return ++m_lastId;
}

uint32_t CBinaryValueCacher::Store(CheckedPtr<uint8_t>& buffer, size_t size, bool evictable) {
    if (!buffer || size == 0 || size > CheckedSize(buffer.get())) return 0;
    try {
        const uint32_t crc = Crc32(buffer.get(), size);
        // Everything that can throw happens before the buffer changes hands.
        SharedBuffer shared = std::make_shared<CheckedPtr<uint8_t>>();
        std::lock_guard lock(m_lock);
        if (m_stop) return 0;
        const uint32_t id = NextIdLocked();
        if (id == 0) return 0;
        const auto entry = m_entries.try_emplace(id, Entry{{}, size, shared, evictable, crc}).first;
        try {
            m_pendingWrites.push_back(PendingWrite{id, size, shared});
        } catch (...) {
            m_entries.erase(entry);
            return 0;
        }
        *shared = std::move(buffer);
        m_writerWake.notify_one();
        return id;
    } catch (...) {
        return 0;
    }
}

bool CBinaryValueCacher::Load(uint32_t id, uint8_t* destination, size_t size) {
    if (destination == nullptr || size < 1) return false;
    try {
        SharedBuffer memory;
        fs::path path;
        uint32_t crc = 0;
        {
            std::lock_guard lock(m_lock);
            const auto found = m_entries.find(id);
            if (found == m_entries.end() || found->second.size != size) return false;
            memory = found->second.memory;
            if (!memory) path = found->second.path;
            crc = found->second.crc;
        }
        if (memory) {
            // The shared copy stays alive, and unchanged, until this copy is done.
            std::memcpy(destination, memory->get(), size);
            return true;
        }
        return !path.empty() && ReadWhole(path, destination, size, crc);
    } catch (...) {
        return false;
    }
}

size_t CBinaryValueCacher::Delete(uint32_t id) {
    std::lock_guard lock(m_lock);
    return DeleteLocked(id);
}

size_t CBinaryValueCacher::DeleteLocked(uint32_t id) {
    const auto found = m_entries.find(id);
    if (found == m_entries.end()) return 0;
    Entry& entry = found->second;
    const size_t size = entry.size;
    if (!entry.path.empty()) {
        m_totalBytes -= size;
        const auto position = std::find(m_evictionOrder.begin(), m_evictionOrder.end(), id);
        if (position != m_evictionOrder.end()) m_evictionOrder.erase(position);
        QueueDeletionLocked(std::move(entry.path), size);
    }
    // A pending write of this id still holds the buffer and drops it when its turn comes.
    m_entries.erase(found);
    return size;
}

void CBinaryValueCacher::QueueDeletionLocked(fs::path path, uint64_t bytes) {
    try {
        m_pendingDeletions.emplace_back();
    } catch (...) {
        RemoveQuietly(path);  // no room to queue it: delete it here rather than leak it
        return;
    }
    m_pendingDeletions.back().path = std::move(path);
    m_pendingDeletions.back().bytes = bytes;
    m_pendingDeletionBytes += bytes;
    m_deleterWake.notify_one();
}

void CBinaryValueCacher::WriterLoop() {
    std::unique_lock lock(m_lock);
    for (;;) {
        m_writerWake.wait(lock, [this] { return m_stop || !m_pendingWrites.empty(); });
        if (m_stop) break;
        PendingWrite write = std::move(m_pendingWrites.front());
        m_pendingWrites.pop_front();
        WriteOne(lock, std::move(write));
        m_idle.notify_all();
    }
}

void CBinaryValueCacher::WriteOne(std::unique_lock<std::mutex>& lock, PendingWrite write) {
    if (!m_entries.contains(write.id)) return;  // deleted meanwhile: just drop the buffer
    m_writing = true;
    lock.unlock();
    fs::path path;
    bool written = false;
    uint64_t freeBytes = 0;
    try {
        path = EntryPath(m_root, write.id);
        written = WriteWhole(path, write.buffer->get(), write.size);
        if (written) freeBytes = ProbeFreeBytes();
    } catch (...) {
        written = false;
    }
    if (!written && !path.empty()) RemoveQuietly(path);  // no partial file stays behind
    lock.lock();
    m_writing = false;
    FinishWriteLocked(write, std::move(path), written);
    if (written) CheckSpaceLocked(freeBytes);
}

void CBinaryValueCacher::FinishWriteLocked(const PendingWrite& write, fs::path path, bool written) {
    const auto found = m_entries.find(write.id);
    if (found == m_entries.end()) {
        if (written) QueueDeletionLocked(std::move(path), write.size);  // deleted while writing
        return;
    }
    Entry& entry = found->second;
    if (!written) {
        // An evictable frame decodes again from its file; any other keeps its memory copy.
        if (entry.evictable) m_entries.erase(found);
        return;
    }
    if (entry.evictable) {
        try {
            m_evictionOrder.push_back(write.id);
        } catch (...) {
            QueueDeletionLocked(std::move(path), write.size);
            m_entries.erase(found);
            return;
        }
    }
    entry.path = std::move(path);
    entry.memory.reset();
    m_totalBytes += write.size;
}

uint64_t CBinaryValueCacher::FreeBytesBeyondReserve() const {
    const uint64_t free = ProbeFreeBytes();
    return free > m_limits.minFreeBytes ? free - m_limits.minFreeBytes : 0;
}

uint64_t CBinaryValueCacher::ProbeFreeBytes() const {
    try {
        return m_freeSpace(m_root).value_or(0);
    } catch (...) {
        return 0;
    }
}

void CBinaryValueCacher::CheckSpaceLocked(uint64_t freeBytes) {
    // Files already queued for deletion will be free soon; counting them avoids evicting
    // the same shortfall again after every write while the deleter catches up.
    const uint64_t soonFree = freeBytes + std::min(m_pendingDeletionBytes, ~freeBytes);
    if (soonFree >= m_limits.minFreeBytes && m_totalBytes <= m_limits.maxTotalBytes) return;
    const uint64_t overTotal =
        m_totalBytes > m_limits.maxTotalBytes ? m_totalBytes - m_limits.maxTotalBytes : 0;
    const uint64_t underFree =
        soonFree < m_limits.minFreeBytes ? m_limits.minFreeBytes - soonFree : 0;
    const uint64_t wanted = std::max(overTotal, underFree);
    uint64_t freed = 0;
    while (freed < wanted && !m_evictionOrder.empty()) {
        const uint32_t oldest = m_evictionOrder.front();
        freed += DeleteLocked(oldest);
        if (!m_evictionOrder.empty() && m_evictionOrder.front() == oldest) {
            m_evictionOrder.pop_front();  // an id without entry; never expected
        }
    }
}

void CBinaryValueCacher::DeleterLoop() {
    std::unique_lock lock(m_lock);
    for (;;) {
        m_deleterWake.wait(lock, [this] { return m_stop || !m_pendingDeletions.empty(); });
        if (m_stop) break;
        PendingDeletion deletion = std::move(m_pendingDeletions.front());
        m_pendingDeletions.pop_front();
        m_deleting = true;
        lock.unlock();
        RemoveQuietly(deletion.path);
        lock.lock();
        m_deleting = false;
        m_pendingDeletionBytes -= std::min(deletion.bytes, m_pendingDeletionBytes);
        m_idle.notify_all();
    }
}

std::optional<CBinaryValueCacher::GroupFile> CBinaryValueCacher::NewGroupFile(
    std::string_view group) {
    try {
        uint32_t id = 0;
        {
            std::lock_guard lock(m_lock);
            if (m_stop) return std::nullopt;
            id = NextIdLocked();
        }
        if (id == 0) return std::nullopt;
        fs::path path = EntryPath(m_root, id);
        FilePtr stream(CreateExclusive(path));
        if (!stream) return std::nullopt;
        try {
            std::lock_guard lock(m_lock);
            if (!m_stop) {
                auto files = m_groups.try_emplace(std::string(group)).first;
                files->second.push_back(path);
                return GroupFile{std::move(path), stream.release()};
            }
        } catch (...) {
        }
        stream.reset();
        RemoveQuietly(path);
        return std::nullopt;
    } catch (...) {
        return std::nullopt;
    }
}

void CBinaryValueCacher::DeleteGroup(std::string_view group) {
    std::lock_guard lock(m_lock);
    const auto found = m_groups.find(group);
    if (found == m_groups.end()) return;
    for (fs::path& path : found->second)
        QueueDeletionLocked(std::move(path), 0);
    m_groups.erase(found);
}

void CBinaryValueCacher::DeleteGroupFiles(
    std::string_view group, const std::function<bool(const fs::path&)>& deletable) {
    std::vector<fs::path> files;
    {
        std::lock_guard lock(m_lock);
        const auto found = m_groups.find(group);
        if (found == m_groups.end()) return;
        files = std::move(found->second);
        m_groups.erase(found);
    }
    // Asked without the lock: the question may take other locks.
    std::vector<fs::path> kept;
    std::vector<fs::path> doomed;
    for (fs::path& path : files)
        (deletable(path) ? doomed : kept).push_back(std::move(path));
    std::lock_guard lock(m_lock);
    for (fs::path& path : doomed)
        QueueDeletionLocked(std::move(path), 0);
    if (kept.empty()) return;
    auto& group_files = m_groups.try_emplace(std::string(group)).first->second;
    std::move(kept.begin(), kept.end(), std::back_inserter(group_files));
}

uint64_t CBinaryValueCacher::TotalBytes() const {
    std::lock_guard lock(m_lock);
    return m_totalBytes;
}

size_t CBinaryValueCacher::EntryCount() const {
    std::lock_guard lock(m_lock);
    return m_entries.size();
}

bool CBinaryValueCacher::IdleLocked() const {
    return m_pendingWrites.empty() && !m_writing && m_pendingDeletions.empty() && !m_deleting;
}

void CBinaryValueCacher::WaitIdle() {
    std::unique_lock lock(m_lock);
    m_idle.wait(lock, [this] { return m_stop || IdleLocked(); });
}

// Runs after both threads have ended, so nothing else touches the members.
void CBinaryValueCacher::RemoveEverything() {
    m_pendingWrites.clear();
    for (const auto& [id, entry] : m_entries) {
        if (!entry.path.empty()) RemoveQuietly(entry.path);
    }
    for (const auto& [name, files] : m_groups) {
        for (const fs::path& path : files)
            RemoveQuietly(path);
    }
    for (const PendingDeletion& deletion : m_pendingDeletions)
        RemoveQuietly(deletion.path);
    m_entries.clear();
    m_groups.clear();
    m_pendingDeletions.clear();
    m_evictionOrder.clear();
    try {
        // Deepest folders first; a folder that still holds something foreign stays.
        const fs::path cache = m_root / "cache";
        std::vector<fs::path> folders;
        std::error_code error;
        for (fs::recursive_directory_iterator it(cache, error), end; !error && it != end;
             it.increment(error)) {
            if (it->symlink_status(error).type() == fs::file_type::directory) {
                folders.push_back(it->path());
            }
        }
        std::sort(folders.begin(), folders.end(), [](const fs::path& a, const fs::path& b) {
            return a.native().size() > b.native().size();
        });
        for (const fs::path& folder : folders)
            RemoveQuietly(folder);
        RemoveQuietly(cache);
    } catch (...) {
    }
}

}  // namespace vexel
