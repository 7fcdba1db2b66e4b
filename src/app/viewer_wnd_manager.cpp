#include "app/viewer_wnd_manager.h"

#include "app/workspace_panel.h"

namespace vexel {

CWorkspacePanel* CViewerWndManager::FindViewport(uint32_t viewportId) const {
    for (const auto& [id, panel] : m_panels)
        if (panel->Viewport().Id() == viewportId) return panel;
    return nullptr;
}

}  // namespace vexel
