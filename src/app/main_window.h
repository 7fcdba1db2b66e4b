// The main window. For now a frame with the program's title, File and View menus and a
// split-screen button, the thumbnail box of loaded patients, studies and series beside the
// workspace of panels, and the loading progress in the status bar; closing it hides it and asks the
// application to quit in order.
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>

#include "app/scan_controller.h"
#include "app/workspace.h"
#include "engine/series_record.h"
#include "viewer/measurement_host.h"
#include "viewer/viewport_2d.h"

class QAction;
class QLabel;
class QProgressBar;
class QSplitter;

namespace vexel {

class CCineWnd;
class CExportWnd;
class CJPEGEngine;
class CFusionEngine;
class CSplitChooser;
class CDicomThumbBox;
class CThumbnailWorker;
class CTimerService;
class CViewerWndManager;
class CWorkspacePanel;
class StudyModel;

struct MainWindowServices {
    ScanServices scan;
    CTimerService* timers = nullptr;  // drives the once-a-second status refresh
    // The viewports' series states, presets and event hook (states and presets required).
    ViewportServices viewport;
    CViewerWndManager* windows = nullptr;  // required: the map of panels
    HookHandle workspaceHook;
    // Told the layers shown whenever the user switches one (to be saved in the settings).
    std::function<void(uint32_t)> layerMaskChanged;
    CJPEGEngine* jpeg = nullptr;  // the export's JPEG writer; null: no export
    CFusionEngine* fusion = nullptr;  // null: no fusion command
};

class CMainWindow final : public QMainWindow, public IScanTargets {
    Q_OBJECT

public:
    CMainWindow(MainWindowServices services, std::function<void()> onClose);
    ~CMainWindow() override;

    CScanController& Scans() { return *m_scans; }
    CDicomThumbBox& Thumbnails() { return *m_thumbs; }
    StudyModel& Model() { return *m_model; }
    CWorkspace& Workspace() const;
    CWorkspacePanel* ActivePanel() const;
    // The active panel's viewport; null without panels.
    CViewport2D* ActiveViewport() const;
    // The series into the active panel (a new one with `ctrl`, or the panel under a drop).
    bool ShowSeries(SeriesId series, bool ctrl = false, std::optional<QPoint> dropAt = {});
    // The once-a-second refresh of the status bar.
    void RefreshStatus();
    // "Image i / n" while the active viewport shows something.
    QString ImageStatusText() const;
    // Shows the cine window (Space shows or hides it), made at the first use.
    CCineWnd& ShowCineWindow();
    CCineWnd* CineWindow() const { return m_cineWnd; }
    CSplitChooser& SplitChooser();
    // The export window over the active panel (Ctrl+E); null when nothing is shown there.
    CExportWnd* OpenExport();
    CExportWnd* ExportWindow() const { return m_export; }
    // The active viewport's picture as shown, layers included (Ctrl+C).
    bool CopyToClipboard();

    // Where the scan's files go.
    std::vector<PanelLoad> PanelsFor(SeriesId series, bool newSeries) override;
    void ThumbnailReady(SeriesId series, CDicomFile& file, CDicomImage& image) override;
    void Deliver(const PanelLoad& panel, SeriesId series, CDicomFile& file,
                 CDicomImage& image) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class LeftTool { Browse, Window, Pan, Zoom, Measure };

    static void OnTimer(uint64_t timerId, uint32_t reason, void* context);
    static uint32_t OnViewportEvent(uint32_t code, uint64_t payload, void* context);
    static uint32_t OnWorkspaceEvent(uint32_t code, uint64_t payload, void* context);
    void CreateViewMenu();
    // Ctrl+Alt+1, 2, 3: the active panel's volume as coronal, sagittal or axial slices.
    void CreateMprMenu();
    // The keys of the shown series; false when the key is not one of them.
    bool ViewerKey(int key);
    // Escape and the three deletes of measurements.
    bool MeasurementCommand(int key, Qt::KeyboardModifiers held);
    void OnPresented();
    void OnPanelCreated(CWorkspacePanel& panel);
    void OnPanelActivated(CWorkspacePanel& panel);
    // The tool the left button has in every panel, and the layers every panel shows.
    void ApplyTools(CViewport2D& viewport) const;
    void SetLeftTool(LeftTool tool);
    void MarkSeries(SeriesId series);

    MainWindowServices m_services;
    std::function<void()> m_onClose;
    std::unique_ptr<StudyModel> m_model;
    QSplitter* m_splitter = nullptr;  // owned by the window, as are the widgets below
    CDicomThumbBox* m_thumbs = nullptr;
    CWorkspaceGroup* m_group = nullptr;
    std::unique_ptr<CScanController> m_scans;
    QAction* m_negative = nullptr;
    QAction* m_split = nullptr;
    QLabel* m_statusText = nullptr;
    QString m_summary;  // of the last scan
    QLabel* m_imageText = nullptr;
    QProgressBar* m_progress = nullptr;
    uint64_t m_timer = 0;
    uint32_t m_viewportEvents = 0;  // subscription cookies
    uint32_t m_workspaceEvents = 0;
    CCineWnd* m_cineWnd = nullptr;        // owned by the window
    CSplitChooser* m_chooser = nullptr;   // likewise
    CExportWnd* m_export = nullptr;       // likewise
    LeftTool m_leftTool = LeftTool::Browse;
    MeasurementKind m_kind = MeasurementKind::Length;
    uint32_t m_layerMask;
    // The first series a scan finds opens by itself while nothing is shown.
    bool m_autoOpen = true;
    bool m_destroying = false;
    std::unique_ptr<CThumbnailWorker> m_thumbnailWorker;
};

}  // namespace vexel
