// The window manager: the map from panel id to panel. Whoever keeps a panel past the moment
// (job owners, thumbnails on their way, hook subscribers) keeps its id and looks it up here
// each time, so a removed panel is simply not found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

namespace vexel {

class CWorkspacePanel;

class CViewerWndManager {
public:
    void Enter(uint32_t panelId, CWorkspacePanel& panel) { m_panels[panelId] = &panel; }
    void Remove(uint32_t panelId) { m_panels.erase(panelId); }
    CWorkspacePanel* FindPanel(uint32_t panelId) const {
        const auto it = m_panels.find(panelId);
        return it != m_panels.end() ? it->second : nullptr;
    }
    size_t PanelCount() const { return m_panels.size(); }
    // The panel whose viewport has this id; null when none.
    CWorkspacePanel* FindViewport(uint32_t viewportId) const;

private:
    std::map<uint32_t, CWorkspacePanel*> m_panels;
};

}  // namespace vexel
