#include "app/workspace.h"

#include <QCursor>
#include <algorithm>

#include "app/series_load_controller.h"
#include "app/viewer_wnd_manager.h"
#include "app/viewport_widget.h"
#include "app/workspace_panel.h"
#include "engine/vexel_engine.h"

namespace vexel {

CWorkspace::CWorkspace(WorkspaceServices services, QWidget* parent)
    : QWidget(parent), m_services(std::move(services)) {}

CWorkspace::~CWorkspace() {
    // Panels go through their teardown while the workspace and the window map still exist.
    for (CWorkspacePanel* panel : m_panels) {
        m_services.windows->Remove(panel->Id());
        delete panel;
    }
}

void CWorkspace::Fire(WorkspaceEvent event, uint32_t panelId) {
    if (m_services.engine == nullptr || !m_services.workspaceHook) return;
    m_services.engine->FireHook(m_services.workspaceHook, uint32_t(event), panelId);
}

CWorkspacePanel* CWorkspace::AddPanel(bool relayout) {
    auto* panel = new CWorkspacePanel(m_services.scan, m_services.viewport, *m_services.model, this);
    panel->setGeometry(rect());
    const uint32_t id = panel->Id();
    connect(panel, &CWorkspacePanel::pressed, this,
            [this](uint32_t panelId) { Activate(FindPanel(panelId)); });
    // Queued: the panel whose close box was pressed is still handling that press.
    connect(panel, &CWorkspacePanel::closeClicked, this,
            [this](uint32_t panelId) { RemovePanel(panelId, true, true); }, Qt::QueuedConnection);
    m_panels.push_back(panel);
    m_services.windows->Enter(id, *panel);
    panel->show();
    Fire(WorkspaceEvent::PanelCreated, id);
    Activate(panel);
    if (relayout) Layout();
    return panel;
}

void CWorkspace::Delete(CWorkspacePanel* panel) {
    Fire(WorkspaceEvent::PanelRemoving, panel->Id());
    panel->Loads().Cancel();
    m_services.windows->Remove(panel->Id());
    std::erase(m_panels, panel);
    delete panel;  // its viewport is torn down first
}

void CWorkspace::RemovePanel(uint32_t panelId, bool relayout, bool backToAuto) {
    CWorkspacePanel* panel = FindPanel(panelId);
    if (panel == nullptr) return;
    CWorkspacePanel* next = nullptr;
    if (panel == m_active) {
        const auto at = std::find(m_panels.begin(), m_panels.end(), panel);
        if (at + 1 != m_panels.end()) {
            next = *(at + 1);
        } else if (at != m_panels.begin()) {
            next = *(at - 1);
        }
        m_active = nullptr;
    }
    Delete(panel);
    if (next != nullptr) Activate(next);
    if (backToAuto) m_mode = Mode::Auto;
    if (relayout) Layout();
}

void CWorkspace::RemoveAllPanels() {
    m_active = nullptr;
    while (!m_panels.empty()) Delete(m_panels.front());
    m_mode = Mode::Auto;
    Layout();
}

void CWorkspace::Activate(CWorkspacePanel* panel) {
    if (panel == m_active) return;
    if (m_active != nullptr) m_active->SetActiveDisplay(false);
    m_active = panel;
    if (panel == nullptr) return;
    panel->SetActiveDisplay(true);
    Fire(WorkspaceEvent::PanelActivated, panel->Id());
}

void CWorkspace::ActivateNext(int32_t step) {
    if (m_panels.empty()) return;
    const auto at = std::find(m_panels.begin(), m_panels.end(), m_active);
    const auto n = int64_t(m_panels.size());
    const int64_t from = at == m_panels.end() ? 0 : at - m_panels.begin();
    Activate(m_panels[size_t(((from + step) % n + n) % n)]);
}

CWorkspacePanel* CWorkspace::FindPanel(uint32_t panelId) const {
    const auto it = std::find_if(m_panels.begin(), m_panels.end(),
                                 [&](const CWorkspacePanel* p) { return p->Id() == panelId; });
    return it != m_panels.end() ? *it : nullptr;
}

CWorkspacePanel* CWorkspace::PanelAt(const QPoint& global) const {
    for (CWorkspacePanel* panel : m_panels) {
        if (panel->rect().contains(panel->mapFromGlobal(global))) return panel;
    }
    return nullptr;
}

void CWorkspace::SetGrid(uint32_t columns, uint32_t rows) {
    if (columns < 1 || rows < 1) return;
    m_mode = Mode::FixedGrid;
    m_grid = {columns, rows};
    const size_t target = size_t(columns) * rows;
    // Empty panels go first, from the last; then the last ones.
    for (size_t i = m_panels.size(); i-- > 0 && m_panels.size() > target;) {
        if (m_panels[i]->Viewport().ImageCount() == 0) RemovePanel(m_panels[i]->Id(), false, false);
    }
    while (m_panels.size() > target) RemovePanel(m_panels.back()->Id(), false, false);
    while (m_panels.size() < target) AddPanel(false);
    Layout();
}

void CWorkspace::Layout() {
    const QRect area = rect();
    // An area without pixels (minimised, collapsed) keeps the grid it had.
    if (area.width() <= 0 || area.height() <= 0) return;
    if (m_mode == Mode::Auto) m_grid = AutoGrid(m_panels.size(), area.width(), area.height());
    const std::vector<CellRect> cells =
        PanelCells(m_panels.size(), m_grid, {area.left(), area.top(), area.left() + area.width(),
                                             area.top() + area.height()});
    for (size_t i = 0; i < m_panels.size(); ++i) {
        m_panels[i]->SetNumber(uint32_t(i + 1));
        if (i < cells.size()) {
            const CellRect& c = cells[i];
            m_panels[i]->setGeometry(c.left, c.top, c.right - c.left, c.bottom - c.top);
        }
    }
    update();
}

void CWorkspace::resizeEvent(QResizeEvent*) {
    Layout();
}

void CWorkspace::ClearPanel(CWorkspacePanel& panel) {
    panel.Clear();
    Fire(WorkspaceEvent::PanelEmptied, panel.Id());
}

bool CWorkspace::PutSeries(SeriesId series, bool ctrl, std::optional<QPoint> dropAt) {
    CWorkspacePanel* target = nullptr;
    if (dropAt) {
        target = PanelAt(*dropAt);
        if (target != nullptr) ClearPanel(*target);
        if (!rect().contains(mapFromGlobal(*dropAt))) return false;
    }
    if (target == nullptr && m_active != nullptr && !ctrl) {
        target = m_active;
        ClearPanel(*target);
    }
    if (target == nullptr) {
        m_mode = Mode::Auto;
        target = AddPanel(true);
    }
    Activate(target);
    if (onSeriesShown) onSeriesShown(series);
    return target->Load(series);
}

// ---- the group ----

CWorkspaceGroup::CWorkspaceGroup(WorkspaceServices services, QWidget* parent)
    : QWidget(parent), m_workspace(new CWorkspace(std::move(services), this)) {}

void CWorkspaceGroup::resizeEvent(QResizeEvent*) {
    if (width() > 0 && height() > 0) m_workspace->setGeometry(rect());
}

}  // namespace vexel
