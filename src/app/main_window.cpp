#include "app/main_window.h"

#include <filesystem>
#include <optional>

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>

#include "app/cine_wnd.h"
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

// L, E, P, A and C choose the measurement the left button makes.
std::optional<MeasurementKind> MeasurementKey(int key) {
    switch (key) {
        case Qt::Key_L:
            return MeasurementKind::Length;
        case Qt::Key_E:
            return MeasurementKind::Ellipse;
        case Qt::Key_P:
            return MeasurementKind::Pencil;
        case Qt::Key_A:
            return MeasurementKind::Angle;
        case Qt::Key_C:
            return MeasurementKind::Cobb;
        default:
            return std::nullopt;
    }
}

}  // namespace
namespace {

constexpr uint32_t kOpenFolderText = 1220;   // "Open DICOM folder"
constexpr uint32_t kSplitScreenText = 1019;  // "Split screen"
constexpr uint32_t kExportText = 3001;       // "Export images"
constexpr uint32_t kCoronalText = 1252;
constexpr uint32_t kSagittalText = 1253;
constexpr uint32_t kAxialText = 1254;
constexpr uint32_t kClipboardFailedText = 3039;

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
    setWindowTitle("Vexel DICOM Viewer");
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_thumbs = new CDicomThumbBox(*m_model, m_splitter);
    m_scans = std::make_unique<CScanController>(m_services.scan, *m_thumbs, this);
    m_scans->SetTargets(this);
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
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setHandleWidth(1);
    setCentralWidget(m_splitter);
    m_thumbs->SetClickHandler([this](SeriesId series, std::optional<QPoint> dropAt) {
        const bool ctrl = QGuiApplication::keyboardModifiers().testFlag(Qt::ControlModifier);
        ShowSeries(series, ctrl, dropAt);
    });

    QMenu* file = menuBar()->addMenu("&File");
    QAction* open = file->addAction(QString::fromStdString(GetString(kOpenFolderText)));
    connect(open, &QAction::triggered, this, [this] { m_scans->AskForFolder(); });
    QAction* exportImages = file->addAction(QString::fromStdString(GetString(kExportText)) + "...");
    exportImages->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    connect(exportImages, &QAction::triggered, this, [this] { OpenExport(); });
    file->addSeparator();
    QAction* exit = file->addAction("E&xit");
    connect(exit, &QAction::triggered, this, &QWidget::close);
    CreateViewMenu();
    CreateMprMenu();
    QToolBar* tools = addToolBar("Tools");
    tools->setMovable(false);
    m_split = tools->addAction(QString::fromStdString(GetString(kSplitScreenText)));
    connect(m_split, &QAction::triggered, this, [this] {
        QWidget* button = findChild<QToolBar*>()->widgetForAction(m_split);
        SplitChooser().Popup(button->mapToGlobal(QPoint(0, button->height())));
    });
    // Shortcuts, so that Tab is not taken for moving the focus.
    const auto shortcut = [this](QKeySequence keys, std::function<void()> act) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, std::move(act));
    };
    shortcut(QKeySequence(Qt::Key_Tab), [this] { Workspace().ActivateNext(1); });
    shortcut(QKeySequence(Qt::Key_Backtab), [this] { Workspace().ActivateNext(-1); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_C), [this] { CopyToClipboard(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_F4), [this] {
        if (CWorkspacePanel* panel = ActivePanel())
            Workspace().RemovePanel(panel->Id(), true, false);
    });

    m_statusText = new QLabel(this);
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
        m_summary = text;
        m_statusText->setText(text);
        // Images the scan sent to panels since their last merge join the lists now.
        for (CWorkspacePanel* panel : Workspace().Panels())
            panel->Viewport().MergePendingImages();
    };
    if (m_services.timers) m_timer = m_services.timers->AddTimer(1000, &OnTimer, 0, this, 1);
    if (CVexelEngine* engine = m_services.viewport.engine) {
        m_viewportEvents = engine->Subscribe(kViewport2DHookName, &OnViewportEvent, this);
        m_workspaceEvents = engine->Subscribe(kWorkspaceHookName, &OnWorkspaceEvent, this);
    }
    resize(785, 480);
}

CMainWindow::~CMainWindow() {
    // Panels torn down below still redraw (a reference line going away): nothing of theirs may
    // reach this window, which is half gone by then.
    m_destroying = true;
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
    if (code != EventCode(Viewport2DEvent::CineChanged) || window->m_cineWnd == nullptr) return 0;
    const auto* state = reinterpret_cast<const CineStatePayload*>(uintptr_t(payload));
    CWorkspacePanel* active = window->ActivePanel();
    if (active != nullptr && state->panelId == active->Id()) {
        window->m_cineWnd->SetPlaying(state->playing != 0, true);
    }
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
}

void CMainWindow::MarkSeries(SeriesId series) {
    m_thumbs->MarkSeries(series);
}

void CMainWindow::ApplyTools(CViewport2D& viewport) const {
    viewport.SetLayerMask(m_layerMask);
    viewport.Measurements().SetKind(m_kind);
    switch (m_leftTool) {
        case LeftTool::Browse:
            viewport.SetLeftTool(viewport.BrowseTool());
            break;
        case LeftTool::Window:
            viewport.SetLeftTool(viewport.WindowTool());
            break;
        case LeftTool::Pan:
            viewport.SetLeftTool(viewport.PanTool());
            break;
        case LeftTool::Zoom:
            viewport.SetLeftTool(viewport.ZoomTool());
            break;
        case LeftTool::Measure:
            viewport.SetLeftTool(viewport.Measurements());
            break;
    }
}

void CMainWindow::SetLeftTool(LeftTool tool) {
    m_leftTool = tool;
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

void CMainWindow::CreateMprMenu() {
    QMenu* menu = menuBar()->addMenu("MP&R");
    // Fusion: the series of another panel drawn in colour over the active one.
    QAction* fusion = menu->addAction("&Fusion");
    fusion->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F));
    connect(fusion, &QAction::triggered, this, [this] {
        CViewport2D* viewport = ActiveViewport();
        if (viewport == nullptr || m_services.fusion == nullptr) return;
        const std::string why = m_services.fusion->Toggle(*viewport);
        if (!why.empty()) statusBar()->showMessage(QString::fromStdString(why), 5000);
    });
    menu->addSeparator();
    struct Entry {
        uint32_t text;
        int32_t plane;
        Qt::Key key;
    };
    static constexpr Entry kEntries[] = {{kCoronalText, kPlaneCoronal, Qt::Key_1},
                                         {kSagittalText, kPlaneSagittalRight, Qt::Key_2},
                                         {kAxialText, kPlaneAxialFeet, Qt::Key_3}};
    for (const Entry& entry : kEntries) {
        QAction* action = menu->addAction(QString::fromStdString(GetString(entry.text)));
        action->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | entry.key));
        connect(action, &QAction::triggered, this, [this, plane = entry.plane] {
            CViewport2D* viewport = ActiveViewport();
            auto* mpr =
                viewport ? dynamic_cast<CViewport2DMPR*>(&viewport->Tool(ToolType::Mpr)) : nullptr;
            if (mpr != nullptr) mpr->SetPlane(plane);
        });
    }
}

void CMainWindow::CreateViewMenu() {
    QMenu* view = menuBar()->addMenu("&View");
    const auto add = [this, view](const QString& text, std::function<void(CViewport2D&)> act) {
        QAction* action = view->addAction(text);
        connect(action, &QAction::triggered, this, [this, act = std::move(act)] {
            if (CViewport2D* viewport = ActiveViewport()) act(*viewport);
        });
        return action;
    };
    add(QString::fromUtf8("Rotate 90\u00b0 clockwise"),
        [](CViewport2D& v) { v.Transform(90, false, false, false); });
    add(QString::fromUtf8("Rotate 90\u00b0 counter-clockwise"),
        [](CViewport2D& v) { v.Transform(-90, false, false, false); });
    add(QString::fromUtf8("Rotate 180\u00b0"),
        [](CViewport2D& v) { v.Transform(180, false, false, false); });
    add("Flip horizontal", [](CViewport2D& v) { v.Transform(0, false, true, false); });
    add("Flip vertical", [](CViewport2D& v) { v.Transform(0, true, false, false); });
    add("Clear transformations", [](CViewport2D& v) { v.Transform(0, false, false, true); });
    view->addSeparator();
    add("Fit to window", [](CViewport2D& v) { v.FitToViewport(); });
    add("Actual size", [](CViewport2D& v) { v.ActualSize(); });
    for (const int percent : {200, 400, 800}) {
        add(QString("Zoom %1 %").arg(percent),
            [factor = float(percent) / 100.0f](CViewport2D& v) { v.SetZoom(factor); });
    }
    view->addSeparator();
    QString negative = QString::fromStdString(GetString(kNegativeMenuTextId));
    if (negative.isEmpty()) negative = "Negative";
    // The key is shown, not bound: F11 reaches the viewport through keyPressEvent.
    m_negative = view->addAction(negative + "\t" + kNegativeShortcut);
    m_negative->setCheckable(true);
    connect(m_negative, &QAction::triggered, this, [this](bool checked) {
        if (CViewport2D* viewport = ActiveViewport()) viewport->SetNegative(checked);
    });
    connect(view, &QMenu::aboutToShow, this, [this, view] {
        const CViewport2D* viewport = ActiveViewport();
        const bool shown = viewport != nullptr && viewport->CurrentFrame() != nullptr;
        for (QAction* action : view->actions())
            action->setEnabled(shown);
        m_negative->setChecked(shown && viewport->Negative());
    });
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
    const CViewport2D* viewport = ActiveViewport();
    const bool negative = viewport != nullptr && viewport->Negative();
    if (m_negative->isChecked() != negative) m_negative->setChecked(negative);
}

bool CMainWindow::ViewerKey(int key) {
    // Layers and tools can be chosen before anything is shown; they hold for every panel.
    switch (key) {
        case Qt::Key_F12:
            m_layerMask ^= kLayerAnnotations;
            for (CWorkspacePanel* panel : Workspace().Panels())
                panel->Viewport().SetLayerMask(m_layerMask);
            if (m_services.layerMaskChanged) m_services.layerMaskChanged(m_layerMask);
            return true;
        case Qt::Key_Space:
            if (m_cineWnd != nullptr && m_cineWnd->isVisible()) {
                m_cineWnd->hide();
            } else {
                ShowCineWindow();
            }
            return true;
        case Qt::Key_B:
            SetLeftTool(LeftTool::Browse);
            return true;
        case Qt::Key_W:
            SetLeftTool(LeftTool::Window);
            return true;
        case Qt::Key_M:
            SetLeftTool(LeftTool::Pan);
            return true;
        case Qt::Key_Z:
            SetLeftTool(LeftTool::Zoom);
            return true;
        default:
            break;
    }
    if (const auto kind = MeasurementKey(key)) {
        m_kind = *kind;
        SetLeftTool(LeftTool::Measure);
        return true;
    }
    CViewport2D* active = ActiveViewport();
    if (active == nullptr || active->CurrentFrame() == nullptr) return false;
    CViewport2D& viewport = *active;
    switch (key) {
        case Qt::Key_Up:
            viewport.Browse(-1);
            return true;
        case Qt::Key_Down:
            viewport.Browse(1);
            return true;
        case Qt::Key_PageUp:
            viewport.Browse(-10);
            return true;
        case Qt::Key_PageDown:
            viewport.Browse(10);
            return true;
        case Qt::Key_F11:
            viewport.SetNegative(!viewport.Negative());
            return true;
        default:
            break;
    }
    // Digits of the main keyboard and the keypad alike (the keypad only adds a modifier).
    if (key >= Qt::Key_0 && key <= Qt::Key_7) {
        viewport.SelectPreset(key - Qt::Key_0);
        return true;
    }
    return false;
}

bool CMainWindow::MeasurementCommand(int key, Qt::KeyboardModifiers held) {
    CViewport2D* viewport = ActiveViewport();
    if (viewport == nullptr) return false;
    CViewport2DROI& measurements = viewport->Measurements();
    if (key == Qt::Key_Escape && held == Qt::NoModifier) return measurements.Escape();
    if (key != Qt::Key_Delete) return false;
    if (held == Qt::NoModifier) measurements.DeleteSelected();
    if (held == Qt::ControlModifier) measurements.DeleteAllInImage();
    if (held == (Qt::ControlModifier | Qt::ShiftModifier)) measurements.DeleteAllInSeries();
    return true;
}

void CMainWindow::keyPressEvent(QKeyEvent* event) {
    // Letters and F12 only without modifiers: Ctrl+F12 and Ctrl+letters are other commands.
    const Qt::KeyboardModifiers held =
        event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    const int key = event->key();
    const bool plain = key == Qt::Key_F12 || key == Qt::Key_B || key == Qt::Key_W ||
                       key == Qt::Key_M || key == Qt::Key_Z || key == Qt::Key_Space ||
                       MeasurementKey(key).has_value();
    const bool thumbKey = held == Qt::NoModifier && m_thumbs->HandleKey(key);
    if (thumbKey || MeasurementCommand(key, held) ||
        ((!plain || held == Qt::NoModifier) && ViewerKey(key))) {
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
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
        // The task's text goes with its bar; the last scan's summary comes back.
        if (m_progress->isVisible()) m_statusText->setText(m_summary);
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
    const QImage picture = QImage(reinterpret_cast<const uchar*>(surface.Pixels()), surface.Width(),
                                  surface.Height(), surface.Width() * 4, QImage::Format_RGB32)
                               .copy();
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
    // A running export stops now; its thread is waited for when the window is destroyed.
    if (m_export != nullptr) m_export->reject();
    for (CWorkspacePanel* panel : Workspace().Panels())
        panel->Loads().Cancel();
    hide();
    if (m_onClose) m_onClose();
}

}  // namespace vexel
