#include "app/main_window.h"

#include <optional>

#include <QAction>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>

#include "app/cine_wnd.h"
#include "app/series_load_controller.h"
#include "app/study_tree.h"
#include "app/viewport_widget.h"
#include "engine/study_model.h"
#include "engine/system_hooks.h"
#include "engine/task_manager.h"
#include "engine/timer_service.h"
#include "engine/vexel_engine.h"
#include "imaging/dicom_image.h"
#include "support/language_manager.h"
#include "viewer/viewport_measurements.h"
#include "viewer/viewport_view_tools.h"
#include "viewer/viewport_window_tool.h"
#include "viewer/window_preset.h"

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

constexpr uint32_t kOpenFolderText = 1220;  // "Open DICOM folder"
constexpr int kTreeWidth = 220;

}  // namespace

CMainWindow::CMainWindow(MainWindowServices services, std::function<void()> onClose)
    : m_services(services), m_onClose(std::move(onClose)), m_model(std::make_unique<StudyModel>()) {
    setWindowTitle("Vexel DICOM Viewer");
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_tree = new CStudyTree(m_splitter);
    m_viewportWidget = new CViewportWidget(m_services.viewport, m_splitter);
    Viewport().SetPanelId(kPanelId);
    m_splitter->addWidget(m_tree);
    m_splitter->addWidget(m_viewportWidget);
    m_splitter->setChildrenCollapsible(false);
    // The tree keeps its width when the window is resized; the viewport takes the rest.
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({kTreeWidth, 1000});
    setCentralWidget(m_splitter);
    m_scans = std::make_unique<CScanController>(m_services.scan, *m_model, *m_tree, this);
    m_loads = std::make_unique<CSeriesLoadController>(m_services.scan, *m_model, Viewport());
    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        const SeriesId series = CStudyTree::SeriesOf(current);
        if (series != 0) ShowSeries(series);
    });
    connect(m_viewportWidget, &CViewportWidget::Presented, this, &CMainWindow::OnPresented);

    QMenu* file = menuBar()->addMenu("&File");
    QAction* open = file->addAction(QString::fromStdString(GetString(kOpenFolderText)));
    connect(open, &QAction::triggered, this, [this] { m_scans->AskForFolder(); });
    file->addSeparator();
    QAction* exit = file->addAction("E&xit");
    connect(exit, &QAction::triggered, this, &QWidget::close);
    CreateViewMenu();

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
        ShowFirstSeriesIfEmpty();
    };
    if (m_services.timers) m_timer = m_services.timers->AddTimer(1000, &OnTimer, 0, this, 1);
    if (CVexelEngine* engine = m_services.viewport.engine)
        m_viewportEvents = engine->Subscribe(kViewport2DHookName, &OnViewportEvent, this);
    resize(785, 480);
}

CMainWindow::~CMainWindow() {
    if (m_services.timers && m_timer) m_services.timers->RemoveTimer(m_timer);
    if (m_viewportEvents != 0) m_services.viewport.engine->Unsubscribe(m_viewportEvents);
}

uint32_t CMainWindow::OnViewportEvent(uint32_t code, uint64_t payload, void* context) {
    auto* window = static_cast<CMainWindow*>(context);
    if (code != EventCode(Viewport2DEvent::CineChanged) || window->m_cineWnd == nullptr) return 0;
    const auto* state = reinterpret_cast<const CineStatePayload*>(uintptr_t(payload));
    if (state->panelIsActive) window->m_cineWnd->SetPlaying(state->playing != 0, true);
    return 0;
}

CCineWnd& CMainWindow::ShowCineWindow() {
    if (m_cineWnd == nullptr) {
        m_cineWnd = new CCineWnd([this]() -> CViewport2D* { return &Viewport(); }, this);
        m_cineWnd->SetPlaying(Viewport().CinePlaying(), true);
    }
    m_cineWnd->show();
    m_cineWnd->raise();
    return *m_cineWnd;
}

CViewport2D& CMainWindow::Viewport() {
    return m_viewportWidget->Viewport();
}

void CMainWindow::CreateViewMenu() {
    QMenu* view = menuBar()->addMenu("&View");
    const auto add = [this, view](const QString& text, std::function<void(CViewport2D&)> act) {
        QAction* action = view->addAction(text);
        connect(action, &QAction::triggered, this,
                [this, act = std::move(act)] { act(Viewport()); });
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
    connect(m_negative, &QAction::triggered, this,
            [this](bool checked) { Viewport().SetNegative(checked); });
    connect(view, &QMenu::aboutToShow, this, [this, view] {
        const bool shown = Viewport().CurrentFrame() != nullptr;
        for (QAction* action : view->actions())
            action->setEnabled(shown);
        m_negative->setChecked(Viewport().Negative());
    });
}

bool CMainWindow::ShowSeries(SeriesId series) {
    const bool started = m_loads->Load(series);
    // The keys browse the series from now on.
    m_viewportWidget->setFocus();
    return started;
}

void CMainWindow::ShowFirstSeriesIfEmpty() {
    // Only when the user has not chosen anything yet.
    if (m_loads->Series() != 0 || Viewport().ImageCount() > 0) return;
    for (const PatientView& patient : m_model->Snapshot()) {
        for (const StudyView& study : patient.studies) {
            if (study.series.empty()) continue;
            const SeriesId first = study.series.front().id;
            // Through the tree, so that its row shows as chosen.
            if (QTreeWidgetItem* row = m_tree->SeriesRow(first)) {
                m_tree->setCurrentItem(row);
            }
            if (m_loads->Series() != first) ShowSeries(first);
            return;
        }
    }
}

QString CMainWindow::ImageStatusText() const {
    const CViewport2D& viewport = m_viewportWidget->Viewport();
    if (viewport.CurrentFrame() == nullptr || viewport.ImageCount() == 0) return {};
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
    if (m_negative->isChecked() != Viewport().Negative())
        m_negative->setChecked(Viewport().Negative());
}

bool CMainWindow::ViewerKey(int key) {
    CViewport2D& viewport = Viewport();
    // Layers and tools can be chosen before anything is shown.
    switch (key) {
        case Qt::Key_F12:
            viewport.SetLayerMask(viewport.LayerMask() ^ kLayerAnnotations);
            if (m_services.layerMaskChanged) m_services.layerMaskChanged(viewport.LayerMask());
            return true;
        case Qt::Key_Space:
            if (m_cineWnd != nullptr && m_cineWnd->isVisible()) {
                m_cineWnd->hide();
            } else {
                ShowCineWindow();
            }
            return true;
        case Qt::Key_B:
            viewport.SetLeftTool(viewport.BrowseTool());
            return true;
        case Qt::Key_W:
            viewport.SetLeftTool(viewport.WindowTool());
            return true;
        case Qt::Key_M:
            viewport.SetLeftTool(viewport.PanTool());
            return true;
        case Qt::Key_Z:
            viewport.SetLeftTool(viewport.ZoomTool());
            return true;
        default:
            break;
    }
    if (const auto kind = MeasurementKey(key)) {
        viewport.Measurements().SetKind(*kind);
        viewport.SetLeftTool(viewport.Measurements());
        return true;
    }
    if (viewport.CurrentFrame() == nullptr) return false;
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
    CViewport2DROI& measurements = Viewport().Measurements();
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
    if (MeasurementCommand(key, held) || ((!plain || held == Qt::NoModifier) && ViewerKey(key))) {
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void CMainWindow::OnTimer(uint64_t, uint32_t reason, void* context) {
    if (reason == kTimerReasonTick) static_cast<CMainWindow*>(context)->RefreshStatus();
}

void CMainWindow::RefreshStatus() {
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

void CMainWindow::closeEvent(QCloseEvent* event) {
    // The window goes at once; the process ends when the workers have finished.
    event->ignore();
    m_loads->Cancel();
    hide();
    if (m_onClose) m_onClose();
}

}  // namespace vexel
