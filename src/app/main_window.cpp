#include "app/main_window.h"

#include <filesystem>
#include <optional>

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>

#include "app/cine_wnd.h"
#include "app/main_menus.h"
#include "app/viewer_toolbar.h"
#include "app/window_placement.h"
#include "app/dicom_thumb_box.h"
#include "app/series_load_controller.h"
#include "app/split_chooser.h"
#include "app/thumb_box_texts.h"
#include "app/thumbnail_worker.h"
#include "app/viewer_wnd_manager.h"
#include "app/viewport_widget.h"
#include "app/workspace_panel.h"
#include "engine/memory_manager.h"
#include "engine/study_model.h"
#include "engine/system_hooks.h"
#include "engine/task_manager.h"
#include "engine/timer_service.h"
#include "engine/vexel_engine.h"
#include "imaging/dicom_image.h"
#include "platform/gui/shown_image.h"
#include "platform/version.h"
#include "output/export_wnd.h"
#include "support/language_manager.h"
#include "viewer/annotation_texts.h"
#include "viewer/viewport_annotations.h"
#include "viewer/viewport_measurements.h"
#include "viewer/viewport_view_tools.h"
#include "viewer/viewport_window_tool.h"
#include "viewer/window_preset.h"
#include "volume/fusion_engine.h"
#include "volume/viewport_mpr.h"

namespace vexel {
namespace {

constexpr uint32_t kReadyText = 7005;
constexpr uint32_t kClipboardFailedText = 3039;
constexpr int kMinimumWidth = 785;
constexpr int kMinimumHeight = 480;
constexpr int kThumbnailColumnWidth = 150;
constexpr int kSummaryMilliseconds = 10000;

// The patient's name, with the age in years when known.
QString PanelCaption(CViewport2D& viewport) {
    const CViewport2DAnnotations& texts = viewport.Annotations();
    // The name as the thumbnail box shows it, without the '^' separators.
    QString caption = TrimmedName(texts.PatientName());
    if (texts.Age()) {
        const std::string age =
            FormatText(FormatCheckedText(viewport.Texts(), textid::kAge), *texts.Age());
        caption += " (" + QString::fromStdString(age) + ")";
    }
    return caption;
}

}  // namespace

CMainWindow::CMainWindow(MainWindowServices services, std::function<void()> onClose)
    : m_services(services),
      m_onClose(std::move(onClose)),
      m_model(std::make_unique<StudyModel>()),
      m_layerMask(services.viewport.layerMask) {
    setWindowTitle(QString::fromUtf8(kProgramCaption));
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_thumbs = new CDicomThumbBox(*m_model, m_splitter);
    m_scans = std::make_unique<CScanController>(m_services.scan, *m_thumbs, this);
    m_scans->SetTargets(this);
    // The scan's buttons and drops come back.
    m_scans->onIdle = [this] { RefreshToolbar(); };
    m_scans->onScanAnother = [this] { Execute(command::kScanAnother); };
    m_thumbnailWorker =
        std::make_unique<CThumbnailWorker>(*this, [this](SeriesId series, Thumbnail thumbnail) {
            m_thumbs->SetThumbnail(series, std::move(thumbnail));
        });
    WorkspaceServices workspace;
    workspace.scan = m_services.scan;
    workspace.viewport = m_services.viewport;
    workspace.model = m_model.get();
    workspace.windows = m_services.windows;
    workspace.engine = m_services.viewport.engine;
    workspace.workspaceHook = m_services.workspaceHook;
    m_group = new CWorkspaceGroup(workspace, m_splitter);
    Workspace().onSeriesShown = [this](SeriesId series) {
        m_autoOpen = false;
        MarkSeries(series);
        // The folder of the series is read next by a running scan.
        const std::vector<std::string> paths = m_model->GetSeriesFiles(series);
        if (!paths.empty()) {
            m_scans->PreferFolder(std::filesystem::path(paths.front()).parent_path().string());
        }
    };
    m_splitter->addWidget(m_thumbs);
    m_splitter->addWidget(m_group);
    m_splitter->setChildrenCollapsible(false);
    // The thumbnail column keeps its width; the workspace takes the rest.
    m_thumbs->setFixedWidth(kThumbnailColumnWidth);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setHandleWidth(1);
    setCentralWidget(m_splitter);
    m_thumbs->SetClickHandler([this](SeriesId series, std::optional<QPoint> dropAt) {
        const bool ctrl = QGuiApplication::keyboardModifiers().testFlag(Qt::ControlModifier);
        ShowSeries(series, ctrl, dropAt);
    });

    m_menus = std::make_unique<CMainMenus>(
        this, [this](uint32_t id) { Execute(id, Qt::LeftButton, QGuiApplication::keyboardModifiers()); },
        [this] { RefreshMenus(); });
    if (const CLanguageManager* languages = CLanguageManager::Instance()) {
        std::vector<QString> names;
        for (size_t i = 0; i < languages->LanguageCount(); ++i)
            names.push_back(QString::fromStdString(languages->Language(i).name));
        m_menus->SetLanguages(names, languages->ChosenIndex());
    }
    m_toolbar = new CViewerToolbar([this](MainMenu menu) { return m_menus->Menu(menu); }, this);
    addToolBar(Qt::TopToolBarArea, m_toolbar);
    connect(m_toolbar, &CViewerToolbar::command, this, [this](uint32_t id, Qt::MouseButton button) {
        Execute(id, button, QGuiApplication::keyboardModifiers());
    });

    m_statusText = new QLabel(QString::fromStdString(GetString(kReadyText)), this);
    m_imageText = new QLabel(this);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 100);
    m_progress->setMaximumWidth(200);
    m_progress->hide();
    statusBar()->addWidget(m_statusText, 1);
    statusBar()->addPermanentWidget(m_imageText);
    statusBar()->addPermanentWidget(m_progress);
    m_scans->onScanFinished = [this](uint32_t loaded, uint32_t skipped) {
        QString text = QString::number(loaded) + " images";
        if (skipped > 0) {
            text += ", " + QString::number(skipped) +
                    (skipped == 1 ? " file skipped" : " files skipped");
        }
        statusBar()->showMessage(text, kSummaryMilliseconds);
        // Images the scan sent to panels since their last merge join the lists now.
        for (CWorkspacePanel* panel : Workspace().Panels())
            panel->Viewport().MergePendingImages();
    };
    if (m_services.timers) m_timer = m_services.timers->AddTimer(1000, &OnTimer, 0, this, 1);
    if (CVexelEngine* engine = m_services.viewport.engine) {
        m_viewportEvents = engine->Subscribe(kViewport2DHookName, &OnViewportEvent, this);
        m_workspaceEvents = engine->Subscribe(kWorkspaceHookName, &OnWorkspaceEvent, this);
    }
    // Keys of every child reach the key table first, Tab included.
    qApp->installEventFilter(this);
    setAcceptDrops(true);
    resize(kMinimumWidth, kMinimumHeight);
    RefreshToolbar();
}

CMainWindow::~CMainWindow() {
    // Panels torn down below still redraw (a reference line going away): nothing of theirs may
    // reach this window, which is half gone by then.
    m_destroying = true;
    qApp->removeEventFilter(this);
    // A running export is waited for before the panels and the model it was planned from go.
    delete m_export;
    // Thumbnails still being drawn finish (or are dropped) before what they reach goes.
    m_thumbnailWorker.reset();
    if (m_services.timers && m_timer) m_services.timers->RemoveTimer(m_timer);
    if (m_viewportEvents != 0) m_services.viewport.engine->Unsubscribe(m_viewportEvents);
    if (m_workspaceEvents != 0) m_services.viewport.engine->Unsubscribe(m_workspaceEvents);
    // Panels go before the controller whose model their loads read.
    delete m_splitter;
}

CWorkspace& CMainWindow::Workspace() const {
    return m_group->Workspace();
}

CWorkspacePanel* CMainWindow::ActivePanel() const {
    return Workspace().ActivePanel();
}

CViewport2D* CMainWindow::ActiveViewport() const {
    CWorkspacePanel* panel = ActivePanel();
    return panel != nullptr ? &panel->Viewport() : nullptr;
}

uint32_t CMainWindow::OnViewportEvent(uint32_t code, uint64_t payload, void* context) {
    auto* window = static_cast<CMainWindow*>(context);
    if (code == EventCode(Viewport2DEvent::FirstImageShown)) {
        CWorkspacePanel* panel = window->m_services.windows->FindPanel(uint32_t(payload));
        if (panel != nullptr) panel->SetTitle(PanelCaption(panel->Viewport()));
        return 0;
    }
    if (code != EventCode(Viewport2DEvent::CineChanged) || window->m_destroying) return 0;
    const auto* state = reinterpret_cast<const CineStatePayload*>(uintptr_t(payload));
    CWorkspacePanel* active = window->ActivePanel();
    if (active == nullptr || state->panelId != active->Id()) return 0;
    if (window->m_cineWnd != nullptr) window->m_cineWnd->SetPlaying(state->playing != 0, true);
    window->RefreshToolbar();
    return 0;
}

uint32_t CMainWindow::OnWorkspaceEvent(uint32_t code, uint64_t payload, void* context) {
    auto* window = static_cast<CMainWindow*>(context);
    CWorkspacePanel* panel = window->m_services.windows->FindPanel(uint32_t(payload));
    if (panel == nullptr) return 0;
    if (code == uint32_t(WorkspaceEvent::PanelCreated)) window->OnPanelCreated(*panel);
    if (code == uint32_t(WorkspaceEvent::PanelActivated)) window->OnPanelActivated(*panel);
    return 0;
}

void CMainWindow::OnPanelCreated(CWorkspacePanel& panel) {
    ApplyTools(panel.Viewport());
    connect(&panel.ViewportWidget(), &CViewportWidget::Presented, this, [this, id = panel.Id()] {
        if (m_destroying) return;
        if (ActivePanel() != nullptr && ActivePanel()->Id() == id) OnPresented();
    });
}

void CMainWindow::OnPanelActivated(CWorkspacePanel& panel) {
    MarkSeries(panel.Series());
    if (m_cineWnd != nullptr) m_cineWnd->SetPlaying(panel.Viewport().CinePlaying(), true);
    OnPresented();
    RefreshToolbar();
}

void CMainWindow::MarkSeries(SeriesId series) {
    m_thumbs->MarkSeries(series);
}

namespace {

CViewport2DTool& ToolOf(CViewport2D& viewport, MouseTool tool) {
    switch (tool) {
        case MouseTool::Window:
            return viewport.WindowTool();
        case MouseTool::Pan:
            return viewport.PanTool();
        case MouseTool::Zoom:
            return viewport.ZoomTool();
        case MouseTool::Measure:
            return viewport.Measurements();
        case MouseTool::Browse:
            break;
    }
    return viewport.BrowseTool();
}

}  // namespace

void CMainWindow::ApplyTools(CViewport2D& viewport) const {
    viewport.SetLayerMask(m_layerMask);
    viewport.Measurements().SetKind(m_kind);
    viewport.SetLeftTool(ToolOf(viewport, m_leftTool));
    viewport.SetRightTool(ToolOf(viewport, m_rightTool));
}

void CMainWindow::SetTool(MouseTool tool, Qt::MouseButton button) {
    (button == Qt::RightButton ? m_rightTool : m_leftTool) = tool;
    for (CWorkspacePanel* panel : Workspace().Panels())
        ApplyTools(panel->Viewport());
}

CSplitChooser& CMainWindow::SplitChooser() {
    if (m_chooser == nullptr) {
        m_chooser = new CSplitChooser(this);
        connect(m_chooser, &CSplitChooser::chosen, this,
                [this](uint32_t columns, uint32_t rows) { Workspace().SetGrid(columns, rows); });
    }
    return *m_chooser;
}

CCineWnd& CMainWindow::ShowCineWindow() {
    if (m_cineWnd == nullptr) {
        m_cineWnd = new CCineWnd([this]() -> CViewport2D* { return ActiveViewport(); }, this);
        CViewport2D* viewport = ActiveViewport();
        m_cineWnd->SetPlaying(viewport != nullptr && viewport->CinePlaying(), true);
    }
    m_cineWnd->show();
    m_cineWnd->raise();
    return *m_cineWnd;
}

// ---- scanned files ----

std::vector<PanelLoad> CMainWindow::PanelsFor(SeriesId series, bool newSeries) {
    std::vector<PanelLoad> panels;
    for (CWorkspacePanel* panel : Workspace().Panels()) {
        if (panel->Series() == series)
            panels.push_back({panel->Id(), panel->Viewport().LoadGeneration()});
    }
    // The first series found while nothing is shown opens by itself, at its first file.
    if (panels.empty() && newSeries && m_autoOpen) {
        CWorkspacePanel* first =
            Workspace().Panels().empty() ? nullptr : Workspace().Panels().front();
        Workspace().Activate(first);
        ShowSeries(series);
    }
    return panels;
}

void CMainWindow::ThumbnailReady(SeriesId series, CDicomFile& file, CDicomImage& image) {
    if (m_services.scan.files == nullptr) {
        m_thumbs->SetThumbnail(series, image);
        return;
    }
    m_services.scan.files->AddReference(&file);
    m_thumbnailWorker->Post(series, CFileRef(*m_services.scan.files, &file), image);
}

void CMainWindow::Deliver(const PanelLoad& target, SeriesId series, CDicomFile& file,
                          CDicomImage& image) {
    // By id: the panel may be gone, or show another series or load since the file was read.
    CWorkspacePanel* panel = m_services.windows->FindPanel(target.panelId);
    if (panel == nullptr || panel->Series() != series ||
        panel->Viewport().LoadGeneration() != target.generation ||
        m_services.scan.files == nullptr) {
        return;
    }
    m_services.scan.files->AddReference(&file);
    panel->Viewport().AddImage(CFileRef(*m_services.scan.files, &file), image, target.generation);
}

bool CMainWindow::ShowSeries(SeriesId series, bool ctrl, std::optional<QPoint> dropAt) {
    const bool started = Workspace().PutSeries(series, ctrl, dropAt);
    // The keys browse the series from now on.
    if (CWorkspacePanel* panel = ActivePanel()) panel->ViewportWidget().setFocus();
    return started;
}

QString CMainWindow::ImageStatusText() const {
    const CViewport2D* active = ActiveViewport();
    if (active == nullptr || active->CurrentFrame() == nullptr || active->ImageCount() == 0) {
        return {};
    }
    const CViewport2D& viewport = *active;
    const size_t frames = viewport.CurrentImage()->FrameCount();
    const QString frame =
        QString("Frame %1 / %2").arg(viewport.CurrentFrameIndex() + 1).arg(frames);
    // A series of one multi-frame image browses its frames.
    if (viewport.ImageCount() == 1 && frames > 1) return frame;
    const QString image =
        QString("Image %1 / %2").arg(viewport.CurrentIndex() + 1).arg(viewport.ImageCount());
    return frames > 1 ? image + "  " + frame : image;
}

void CMainWindow::OnPresented() {
    const QString text = ImageStatusText();
    if (m_imageText->text() != text) m_imageText->setText(text);
}

void CMainWindow::OnTimer(uint64_t, uint32_t reason, void* context) {
    if (reason == kTimerReasonTick) static_cast<CMainWindow*>(context)->RefreshStatus();
}

void CMainWindow::RefreshStatus() {
    for (CWorkspacePanel* panel : Workspace().Panels()) {
        if (panel->Viewport().PendingCount() > 0) panel->Viewport().MergePendingImages();
    }
    CTaskManager* tasks = m_services.scan.tasks;
    if (tasks == nullptr || tasks->ActiveCount() == 0) {
        // The task's text goes with its bar.
        const QString ready = QString::fromStdString(GetString(kReadyText));
        if (m_statusText->text() != ready) m_statusText->setText(ready);
        m_progress->hide();
        return;
    }
    const OverallProgress progress = tasks->GetOverallProgress();
    m_progress->setValue(progress.percent);
    m_progress->show();
    QString text = QString::fromStdString(tasks->GetShownTaskText().value_or(""));
    if (progress.hasTime) text += "  " + QString::fromStdString(ProgressTimeText(progress));
    m_statusText->setText(text);
}

CExportWnd* CMainWindow::OpenExport() {
    CViewport2D* viewport = ActiveViewport();
    if (viewport == nullptr || viewport->ImageCount() == 0 || m_services.jpeg == nullptr)
        return nullptr;
    if (m_export == nullptr) {
        ExportWindowContext context;
        context.files = m_services.scan.files;
        context.jpeg = m_services.jpeg;
        context.presets = m_services.viewport.presets;
        context.states = m_services.viewport.states;
        context.model = m_model.get();
        context.tasks = m_services.scan.tasks;
        context.texts = m_services.viewport.text;
        context.activeSource = [this] {
            CWorkspacePanel* panel = ActivePanel();
            return panel ? ExportSource{panel->Series(), &panel->Viewport()} : ExportSource{};
        };
        // Study folders are named as the thumbnail box shows the study's date and time.
        context.studyDateTime = [](const StudyView& study) {
            return FormatDicomDateTime(study.date, study.time).toStdString();
        };
        context.showStatus = [this](const QString& text) { m_statusText->setText(text); };
        m_export = new CExportWnd(std::move(context), (m_layerMask & kLayerAnnotations) != 0, this);
    }
    return m_export->Open() ? m_export : nullptr;
}

bool CMainWindow::CopyToClipboard() {
    CViewport2D* viewport = ActiveViewport();
    if (viewport == nullptr || !viewport->RenderedImage()) return false;
    const CViewportSurface& surface = viewport->Surface();
    const QImage picture =
        OpaqueCopy(surface.Pixels(), surface.Width(), surface.Height(), surface.Width());
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard != nullptr && !picture.isNull()) clipboard->setImage(picture);
    if (clipboard == nullptr || picture.isNull() || clipboard->image().isNull()) {
        m_statusText->setText(QString::fromStdString(GetString(kClipboardFailedText)));
        return false;
    }
    return true;
}

void CMainWindow::closeEvent(QCloseEvent* event) {
    // The window goes at once; the process ends when the workers have finished.
    event->ignore();
    // The placement to store is the one before full screen; the desktop gets its screen back
    // before the window goes.
    m_placementAtClose = CurrentPlacement();
    SetFullScreen(false);
    // A running export stops now; its thread is waited for when the window is destroyed.
    if (m_export != nullptr) m_export->reject();
    for (CWorkspacePanel* panel : Workspace().Panels())
        panel->Loads().Cancel();
    hide();
    if (m_onClose) m_onClose();
}

// ---- full screen and placement ----

void CMainWindow::SetFullScreen(bool on) {
    if (on == m_fullScreen) return;
    if (on) {
        m_maximizedBeforeFullScreen = isMaximized();
        m_rectBeforeFullScreen = normalGeometry();
        // The whole monitor the window is on, not its work area.
        const QRect monitor = screen()->geometry();
        setWindowFlag(Qt::FramelessWindowHint, true);
        setGeometry(monitor);
        showFullScreen();
        m_fullScreen = true;
    } else {
        setWindowFlag(Qt::FramelessWindowHint, false);
        showNormal();
        setGeometry(m_rectBeforeFullScreen);
        if (m_maximizedBeforeFullScreen) showMaximized();
        m_fullScreen = false;
    }
    m_toolbar->SetFullScreenSet(m_fullScreen);
}

CMainWindow::Placement CMainWindow::CurrentPlacement() const {
    if (m_placementAtClose) return *m_placementAtClose;
    if (m_fullScreen) return {m_rectBeforeFullScreen, m_maximizedBeforeFullScreen, true};
    return {normalGeometry(), isMaximized(), false};
}

void CMainWindow::ShowAtPlacement(const Placement& placement, bool valid) {
    if (valid && !placement.normal.isEmpty()) {
        std::vector<QRect> screens;
        for (const QScreen* screen : QGuiApplication::screens())
            screens.push_back(screen->geometry());
        const QScreen* primary = QGuiApplication::primaryScreen();
        setGeometry(KeepOnScreens(placement.normal, screens,
                                  primary ? primary->availableGeometry() : QRect()));
    }
    if (!valid || placement.maximized) {
        showMaximized();
    } else {
        show();
    }
    if (valid && placement.fullScreen) SetFullScreen(true);
}

}  // namespace vexel
