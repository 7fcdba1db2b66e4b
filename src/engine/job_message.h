// What a background job tells the window that started it, and how the message finds that
// window. Owners are named by id in a registry kept by the receiving side; a message whose
// owner has left the registry (or whose registry is gone) is dropped, so a job never calls
// into a destroyed window through a pointer it kept.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

namespace vexel {

class CDicomFile;
class CDicomImage;
class CDicomJob;
struct StudyFileKeys;

enum class JobMessageCode : uint32_t {
    ImageLoadStarted = 2,
    ImageLoaded = 4,  // file, image, index, total, job
    ImageLoadFinished = 6,
    ScanStarted = 8,  // first run only
    ListingComplete = 9,
    ScanFinished = 11,
    FileNotTaken = 14,   // index, total, loadedCount
    FileLoaded = 15,     // file; the answer is the flags
    FilePrepared = 16,   // file, image, index, total, loadedCount, flags, job
    FileNotLoaded = 17,  // index, total, loadedCount
};

// Raw pointers are borrowed for the duration of the delivery only.
struct JobMessage {
    JobMessageCode code = JobMessageCode::ImageLoadStarted;
    CDicomFile* file = nullptr;
    CDicomImage* image = nullptr;
    uint32_t index = 0;  // 1-based position of the file in the job's list
    uint32_t total = 0;
    uint32_t loadedCount = 0;
    uint32_t flags = 0;
    CDicomJob* job = nullptr;
    // FileLoaded: the file's keys, read by the worker.
    std::shared_ptr<const StudyFileKeys> keys = nullptr;
};

class IJobOwner {
public:
    virtual ~IJobOwner() = default;
    // User-interface thread. A null message means the job has ended (finished or cancelled)
    // and the queue has let go of it: the owner drops its own reference.
    virtual uint32_t OnJobMessage(CDicomJob& job, const JobMessage* message) = 0;
};

// The receiver's table of job owners (the main window and its panels). User-interface
// thread only. Jobs hold it weakly, so it may go away while they still run.
class CJobOwnerRegistry {
public:
    // Ids are never reused: a late message for a removed owner cannot reach a new one.
    uint64_t Register(IJobOwner& owner) {
        const uint64_t id = m_nextId++;
        m_owners[id] = &owner;
        return id;
    }
    void Unregister(uint64_t id) { m_owners.erase(id); }
    IJobOwner* Find(uint64_t id) const {
        auto it = m_owners.find(id);
        return it == m_owners.end() ? nullptr : it->second;
    }

private:
    std::map<uint64_t, IJobOwner*> m_owners;
    uint64_t m_nextId = 1;
};

}  // namespace vexel
