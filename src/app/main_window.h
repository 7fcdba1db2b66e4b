// The main window: the toolbar with its drop-down menus, the thumbnail box of loaded patients,
// studies and series beside the workspace of panels, and the status bar with the loading
// progress. Every command and key goes through one dispatcher and acts on the active panel,
// doing nothing without one; loading commands wait while a scan runs. Closing the window
// hides it and asks the application to quit in order.
#pragma once

#include <QMainWindow>
#include <QRect>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

#include "app/scan_controller.h"
#include "app/workspace.h"
#include "engine/series_record.h"
#include "viewer/measurement_host.h"
#include "viewer/viewport_2d.h"

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;

namespace vexel {

class CCineWnd;
class CMainMenus;
class COptions;
class CUpdater;
class CViewerToolbar;
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

// What the window asks the user for in a file dialog.
enum class PathQuestion { Files, Folder, Archive, Language };

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
    // The settings (scan folder, web site, synchronisation); null: defaults, nothing stored.
    COptions* options = nullptr;
    CUpdater* updater = nullptr;  // null: "Check for updates now" stays off
    // Opens a page in the browser (tests record it); empty: the desktop's browser.
    std::function<bool(const QUrl&)> openUrl;
    // Answers the file dialogs (tests); empty: the desktop's dialogs. No paths: cancelled.
    std::function<QStringList(PathQuestion)> askPaths;
};

// The mouse-button tools of the toolbar and keys.
enum class MouseTool : uint8_t { Browse = 1, Window, Pan, Zoom, Measure };

class CMainWindow final : public QMainWindow, public IScanTargets {
    Q_OBJECT

public:
    CMainWindow(MainWindowServices services, std::function<void()> onClose);
    ~CMainWindow() override;

    CScanController& Scans() { return *m_scans; }
    // Tests answer the file dialogs and catch the browser here.
    MainWindowServices& Services() { return m_services; }
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

    // Runs a command of the menus, the toolbar or the keys. `button` is the mouse button that
    // clicked a tool button; `held` the modifiers (Shift adds instead of replacing). False
    // when it did nothing (no active viewport, a scan running, a dialog cancelled).
    bool Execute(uint32_t command, Qt::MouseButton button = Qt::LeftButton,
                 Qt::KeyboardModifiers held = Qt::NoModifier);
    // A key press aimed at this window or one of its children; true when it is consumed
    // (every key but those of other top-level windows).
    bool HandleKey(int key, Qt::KeyboardModifiers held);
    // Scans folders and files; without `add` everything open is closed first. False while a
    // scan runs or when there is nothing to scan.
    bool Open(std::vector<std::string> folders, std::vector<std::string> files, bool add);
    // A ZIP archive (not readable yet: says so).
    bool OpenArchive(const std::string& path, bool add);
    // Dropped or command-line paths: folders, files, or the first ZIP archive alone.
    bool OpenPaths(const std::vector<std::string>& paths, bool add);
    // Removes every panel and every loaded series.
    void CloseAll();
    bool Loading() const;

    MouseTool LeftTool() const { return m_leftTool; }
    MouseTool RightTool() const { return m_rightTool; }
    MeasurementKind Kind() const { return m_kind; }
    uint32_t LayerMask() const { return m_layerMask; }
    CViewerToolbar& Toolbar() const { return *m_toolbar; }
    CMainMenus& Menus() const { return *m_menus; }
    // Sets checks and enabled states of every menu entry from the active viewport.
    void RefreshMenus();
    void RefreshToolbar();

    bool FullScreen() const { return m_fullScreen; }
    void SetFullScreen(bool on);
    // The placement to store: before full screen while in it, never the full-screen rectangle.
    struct Placement {
        QRect normal;
        bool maximized = false;
        bool fullScreen = false;
    };
    Placement CurrentPlacement() const;
    // Shows the window at a stored placement, moved onto a screen when it is on none.
    void ShowAtPlacement(const Placement& placement, bool valid);

    // Where the scan's files go.
    std::vector<PanelLoad> PanelsFor(SeriesId series, bool newSeries) override;
    void ThumbnailReady(SeriesId series, CDicomFile& file, CDicomImage& image) override;
    void Deliver(const PanelLoad& panel, SeriesId series, CDicomFile& file,
                 CDicomImage& image) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:

    static void OnTimer(uint64_t timerId, uint32_t reason, void* context);
    static uint32_t OnViewportEvent(uint32_t code, uint64_t payload, void* context);
    static uint32_t OnWorkspaceEvent(uint32_t code, uint64_t payload, void* context);
    // Commands of the active viewport; false without one.
    bool ViewportCommand(uint32_t command);
    bool LoadCommand(uint32_t command, bool add);
    bool WindowCommand(uint32_t command);
    bool HelpCommand(uint32_t command);
    bool OpenWebPage(int page);
    QUrl WebUrl(int page) const;
    // The user guide on this computer; invalid when it is not installed.
    static QUrl LocalGuideUrl();
    QStringList AskPaths(PathQuestion question);
    void ToggleLayer(uint32_t bit);
    void ToggleCine();
    void OpenTags();
    void ShowAbout();
    void ImportLanguage();
    void ChooseLanguage(size_t index);
    void OnPresented();
    void OnPanelCreated(CWorkspacePanel& panel);
    void OnPanelActivated(CWorkspacePanel& panel);
    // The tool the left button has in every panel, and the layers every panel shows.
    void ApplyTools(CViewport2D& viewport) const;
    void SetTool(MouseTool tool, Qt::MouseButton button);
    void MarkSeries(SeriesId series);

    MainWindowServices m_services;
    std::function<void()> m_onClose;
    std::unique_ptr<StudyModel> m_model;
    QSplitter* m_splitter = nullptr;  // owned by the window, as are the widgets below
    CDicomThumbBox* m_thumbs = nullptr;
    CWorkspaceGroup* m_group = nullptr;
    std::unique_ptr<CScanController> m_scans;
    std::unique_ptr<CMainMenus> m_menus;
    CViewerToolbar* m_toolbar = nullptr;
    QLabel* m_statusText = nullptr;
    QLabel* m_imageText = nullptr;
    QProgressBar* m_progress = nullptr;
    uint64_t m_timer = 0;
    uint32_t m_viewportEvents = 0;  // subscription cookies
    uint32_t m_workspaceEvents = 0;
    CCineWnd* m_cineWnd = nullptr;        // owned by the window
    CSplitChooser* m_chooser = nullptr;   // likewise
    CExportWnd* m_export = nullptr;       // likewise
    MouseTool m_leftTool = MouseTool::Browse;
    MouseTool m_rightTool = MouseTool::Zoom;
    MeasurementKind m_kind = MeasurementKind::Length;
    uint32_t m_layerMask;
    // The first series a scan finds opens by itself while nothing is shown.
    bool m_autoOpen = true;
    bool m_destroying = false;
    bool m_fullScreen = false;
    bool m_maximizedBeforeFullScreen = false;
    QRect m_rectBeforeFullScreen;
    std::optional<Placement> m_placementAtClose;
    std::unique_ptr<CThumbnailWorker> m_thumbnailWorker;
};

}  // namespace vexel
