// Every live viewport by its process-unique id, so that events can name viewports by id.
// Ids come from an atomic counter (the first viewport gets 1) because off-screen viewports
// are made on worker threads; lookups come from hook callbacks, hence the lock.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>

namespace vexel {

class CViewport2D;

class CViewportHash {
public:
    static CViewportHash& Instance();

    // A new id for `viewport`, registered under it.
    uint32_t Add(CViewport2D& viewport);
    CViewport2D* Find(uint32_t id) const;
    // The viewport of a workspace panel (ids from 1); null when none shows that panel.
    CViewport2D* FindPanel(uint32_t panelId) const;
    void Remove(uint32_t id);
    size_t Size() const;

private:
    CViewportHash() = default;

    mutable std::mutex m_lock;
    std::map<uint32_t, CViewport2D*> m_viewports;
    uint32_t m_lastId = 0;
};

}  // namespace vexel
