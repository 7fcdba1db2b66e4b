// A counted reference to a file of the registry: while it lives the file stays parsed and
// its frames are in use. Moving it moves the reference.
#pragma once

#include <utility>

namespace vexel {

class CDicomFile;
class CMemoryManager;

class CFileRef {
public:
    CFileRef() = default;
    // Adopts a reference already counted for file.
    CFileRef(CMemoryManager& manager, CDicomFile* file) : m_manager(&manager), m_file(file) {}
    ~CFileRef() { Reset(); }
    CFileRef(CFileRef&& other) noexcept
        : m_manager(std::exchange(other.m_manager, nullptr)),
          m_file(std::exchange(other.m_file, nullptr)) {}
    CFileRef& operator=(CFileRef&& other) noexcept {
        if (this != &other) {
            Reset();
            m_manager = std::exchange(other.m_manager, nullptr);
            m_file = std::exchange(other.m_file, nullptr);
        }
        return *this;
    }
    CFileRef(const CFileRef&) = delete;
    CFileRef& operator=(const CFileRef&) = delete;

    CDicomFile* Get() const { return m_file; }
    CDicomFile* operator->() const { return m_file; }
    CDicomFile& operator*() const { return *m_file; }
    explicit operator bool() const { return m_file != nullptr; }
    // Gives the reference back now.
    void Reset();

private:
    CMemoryManager* m_manager = nullptr;
    CDicomFile* m_file = nullptr;
};

}  // namespace vexel
