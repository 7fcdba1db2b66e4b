#include "viewer/viewport_hash.h"

#include "viewer/viewport_2d.h"

namespace vexel {

CViewportHash& CViewportHash::Instance() {
    static CViewportHash hash;
    return hash;
}

uint32_t CViewportHash::Add(CViewport2D& viewport) {
    const std::lock_guard lock(m_lock);
    // Ids are never reused, so a late event cannot reach a newer viewport; 0 means none.
    do
        ++m_lastId;
    while (m_lastId == 0 || m_viewports.contains(m_lastId));
    m_viewports.emplace(m_lastId, &viewport);
    return m_lastId;
}

CViewport2D* CViewportHash::Find(uint32_t id) const {
    const std::lock_guard lock(m_lock);
    const auto found = m_viewports.find(id);
    return found == m_viewports.end() ? nullptr : found->second;
}

CViewport2D* CViewportHash::FindPanel(uint32_t panelId) const {
    if (panelId == 0) return nullptr;
    const std::lock_guard lock(m_lock);
    // Panel ids are set on the UI thread only, and only on-screen viewports get one.
    for (const auto& [id, viewport] : m_viewports)
        if (viewport->PanelId() == panelId) return viewport;
    return nullptr;
}

void CViewportHash::Remove(uint32_t id) {
    const std::lock_guard lock(m_lock);
    m_viewports.erase(id);
}

size_t CViewportHash::Size() const {
    const std::lock_guard lock(m_lock);
    return m_viewports.size();
}

}  // namespace vexel
