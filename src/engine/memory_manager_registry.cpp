// The file registry half of the memory manager: opening by path, references, the unused
// list and eviction.
#include "dicom/dicom_reader.h"
#include "engine/memory_manager.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "imaging/releasable_object_queue.h"

namespace vexel {

CMemoryManager::OpenResult CMemoryManager::Open(const std::string& path) {
    if (m_options.beforeOpen) m_options.beforeOpen(path);
    AcquirePathLock(path);
    if (CDicomFile* found = FindAndReference(path)) {
        ReleasePathLock(path);
        return {CFileRef(*this, found), ReadStatus::Ok};
    }
    auto file = std::make_unique<CDicomFile>();
    file->SetDeferredValues(true);
    const ReadStatus status = ReadDicomFile(*file, path);
    if (status != ReadStatus::Ok) {
        ReleasePathLock(path);
        return {CFileRef(), status};
    }
    CDicomImage::AttachTo(*file, true);
    file->AddReference();
    CDicomFile* raw = file.get();
    const bool registered = RegisterObject(std::move(file));
    ReleasePathLock(path);
    if (!registered) return {CFileRef(), ReadStatus::CannotOpen};
    return {CFileRef(*this, raw), ReadStatus::Ok};
}

void CMemoryManager::AcquirePathLock(const std::string& path) {
    PathLock* record = nullptr;
    {
        std::lock_guard registry(m_registryLock);
        auto& slot = m_pathLocks[path];
        if (!slot) slot = std::make_unique<PathLock>();
        ++slot->users;
        record = slot.get();
    }
    // Waited for outside the registry lock; the record lives while it has users.
    record->mutex.lock();
}

void CMemoryManager::ReleasePathLock(const std::string& path) {
    std::lock_guard registry(m_registryLock);
    const auto it = m_pathLocks.find(path);
    if (it == m_pathLocks.end()) return;
    it->second->mutex.unlock();
    if (--it->second->users == 0) m_pathLocks.erase(it);
}

void CMemoryManager::LeaveUnusedLocked(RegistryEntry& entry) {
    if (!entry.isUnused) return;
    m_unused.erase(entry.unused);
    entry.isUnused = false;
}

CDicomFile* CMemoryManager::FindAndReference(const std::string& path) {
    std::lock_guard registry(m_registryLock);
    if (m_stop) return nullptr;
    const auto it = m_registry.find(path);
    if (it == m_registry.end()) return nullptr;
    it->second.file->AddReference();
    LeaveUnusedLocked(it->second);
    return it->second.file.get();
}

bool CMemoryManager::RegisterObject(std::unique_ptr<CDicomFile> file) {
    if (!file) return false;
    std::unique_lock registry(m_registryLock);
    if (m_stop || m_registry.contains(file->Path())) {
        registry.unlock();
        file.reset();  // destroyed outside the registry lock
        return false;
    }
    const std::string path = file->Path();
    RegistryEntry& entry = m_registry[path];
    entry.file = std::move(file);
    if (entry.file->ReferenceCount() <= 0) {
        entry.unused = m_unused.insert(m_unused.end(), entry.file.get());
        entry.isUnused = true;
    }
    return true;
}

void CMemoryManager::AddReference(CDicomFile* file) {
    if (file == nullptr) return;
    std::lock_guard registry(m_registryLock);
    file->AddReference();
    const auto it = m_registry.find(file->Path());
    if (it != m_registry.end() && it->second.file.get() == file) LeaveUnusedLocked(it->second);
}

void CMemoryManager::ReleaseReference(CDicomFile* file) {
    if (file == nullptr) return;
    // The count and the unused list change in one step, so eviction never sees a file
    // whose count is back above zero.
    std::lock_guard registry(m_registryLock);
    if (file->ReleaseReference() > 0 || m_stop) return;
    const auto it = m_registry.find(file->Path());
    if (it == m_registry.end() || it->second.file.get() != file || it->second.isUnused) return;
    it->second.unused = m_unused.insert(m_unused.end(), file);
    it->second.isUnused = true;
}

bool CMemoryManager::DiscardIfUnused(const std::string& path) {
    std::unique_ptr<CDicomFile> doomed;
    {
        std::lock_guard registry(m_registryLock);
        if (m_stop) return false;
        const auto it = m_registry.find(path);
        if (it == m_registry.end() || it->second.file->ReferenceCount() >= 1) return false;
        LeaveUnusedLocked(it->second);
        doomed = std::move(it->second.file);
        m_registry.erase(it);
        doomed->SetUnregistered(true);
    }
    doomed.reset();
    return true;
}

bool CMemoryManager::ForgetIfUnused(const std::string& path) {
    if (DiscardIfUnused(path)) return true;
    std::lock_guard registry(m_registryLock);
    return m_registry.find(path) == m_registry.end();
}

void CMemoryManager::EvictUnusedLocked(size_t count) {
    std::vector<std::unique_ptr<CDicomFile>> evicted;
    while (count-- > 0 && !m_unused.empty()) {
        CDicomFile* file = m_unused.front();
        const auto it = m_registry.find(file->Path());
        if (it == m_registry.end() || it->second.file.get() != file) {
            m_unused.pop_front();
            continue;
        }
        LeaveUnusedLocked(it->second);
        if (file->ReferenceCount() > 0) continue;  // taken again meanwhile: not ours to evict
        // Its frames leave the release queue now, so no pass caches or frees them while the
        // file waits for the deleter.
        if (CDicomImage* image = CDicomImage::Of(*file)) {
            for (size_t i = 0; i < image->FrameCount(); ++i)
                m_releaseQueue.Remove(image->Frame(i));
        }
        file->SetUnregistered(true);
        evicted.push_back(std::move(it->second.file));
        m_registry.erase(it);
    }
    if (evicted.empty()) return;
    if (!m_deleter.joinable()) return;  // no deleter thread: destroyed here, with the vector
    std::lock_guard deletion(m_deletionLock);
    for (auto& file : evicted)
        m_deletionQueue.push_back(std::move(file));
    m_deletionWake.notify_one();
}

size_t CMemoryManager::RegisteredCount() const {
    std::lock_guard registry(m_registryLock);
    return m_registry.size();
}

size_t CMemoryManager::UnusedCount() const {
    std::lock_guard registry(m_registryLock);
    return m_unused.size();
}

}  // namespace vexel
