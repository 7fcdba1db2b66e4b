// The workspace: the panels in a grid, chosen from their number and the area's shape or fixed
// by the split-screen chooser, with one active panel that commands and series go to. Every
// change of the panel set or of the active panel is announced on the workspace hook.
//
// CWorkspaceGroup is the window that holds the workspace and gives it its whole area.
#pragma once

#include <QPoint>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "app/scan_controller.h"
#include "app/workspace_grid.h"
#include "engine/hook_types.h"
#include "engine/system_hooks.h"
#include "engine/series_record.h"
#include "viewer/viewport_2d.h"

namespace vexel {

class CViewerWndManager;
class CVexelEngine;
class CWorkspacePanel;
class StudyModel;

struct WorkspaceServices {
    ScanServices scan;
    ViewportServices viewport;
    StudyModel* model = nullptr;          // required
    CViewerWndManager* windows = nullptr;  // required
    CVexelEngine* engine = nullptr;        // null: no events
    HookHandle workspaceHook;
};

class CWorkspace final : public QWidget {
    Q_OBJECT

public:
    enum class Mode { Auto, FixedGrid };

    CWorkspace(WorkspaceServices services, QWidget* parent);
    ~CWorkspace() override;

    CWorkspacePanel* AddPanel(bool relayout);
    // Nothing for a panel that is not listed. The active panel passes to the next one, or
    // the one before it.
    void RemovePanel(uint32_t panelId, bool relayout, bool backToAuto);
    void RemoveAllPanels();
    void Activate(CWorkspacePanel* panel);
    // Fixed columns x rows: empty panels go first when there are too many.
    void SetGrid(uint32_t columns, uint32_t rows);
    void Layout();

    // The series into a panel: the panel under `dropAt` (global) for a drop, else the active
    // panel, or a new one with Ctrl held or none active. False when nothing was done.
    bool PutSeries(SeriesId series, bool ctrl, std::optional<QPoint> dropAt);
    // Tab and Shift+Tab.
    void ActivateNext(int32_t step);

    CWorkspacePanel* ActivePanel() const { return m_active; }
    CWorkspacePanel* PanelAt(const QPoint& global) const;
    CWorkspacePanel* FindPanel(uint32_t panelId) const;
    const std::vector<CWorkspacePanel*>& Panels() const { return m_panels; }
    Mode LayoutMode() const { return m_mode; }
    GridSize Grid() const { return m_grid; }

    // Told when a series went into a panel (the thumbnail box marks it).
    std::function<void(SeriesId)> onSeriesShown;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Fire(WorkspaceEvent event, uint32_t panelId);
    void Delete(CWorkspacePanel* panel);
    void ClearPanel(CWorkspacePanel& panel);

    WorkspaceServices m_services;
    Mode m_mode = Mode::Auto;
    GridSize m_grid;
    std::vector<CWorkspacePanel*> m_panels;  // children, in layout order
    CWorkspacePanel* m_active = nullptr;
};

class CWorkspaceGroup final : public QWidget {
    Q_OBJECT

public:
    CWorkspaceGroup(WorkspaceServices services, QWidget* parent);
    CWorkspace& Workspace() const { return *m_workspace; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    CWorkspace* m_workspace;  // child
};

}  // namespace vexel
