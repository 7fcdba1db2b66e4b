#include "app/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>

#include "app/study_tree.h"
#include "engine/study_model.h"
#include "engine/task_manager.h"
#include "engine/timer_service.h"
#include "support/language_manager.h"

namespace vexel {
namespace {

constexpr uint32_t kOpenFolderText = 1220;  // "Open DICOM folder"

}  // namespace

CMainWindow::CMainWindow(MainWindowServices services, std::function<void()> onClose)
    : m_services(services), m_onClose(std::move(onClose)), m_model(std::make_unique<StudyModel>()) {
    setWindowTitle("Vexel DICOM Viewer");
    m_tree = new CStudyTree(this);
    setCentralWidget(m_tree);
    m_scans = std::make_unique<CScanController>(m_services.scan, *m_model, *m_tree, this);

    QMenu* file = menuBar()->addMenu("&File");
    QAction* open = file->addAction(QString::fromStdString(GetString(kOpenFolderText)));
    connect(open, &QAction::triggered, this, [this] { m_scans->AskForFolder(); });
    file->addSeparator();
    QAction* exit = file->addAction("E&xit");
    connect(exit, &QAction::triggered, this, &QWidget::close);

    m_statusText = new QLabel(this);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 100);
    m_progress->setMaximumWidth(200);
    m_progress->hide();
    statusBar()->addWidget(m_statusText, 1);
    statusBar()->addPermanentWidget(m_progress);
    m_scans->onScanFinished = [this](uint32_t loaded, uint32_t skipped) {
        QString text = QString::number(loaded) + " images";
        if (skipped > 0) {
            text += ", " + QString::number(skipped) +
                    (skipped == 1 ? " file skipped" : " files skipped");
        }
        m_statusText->setText(text);
    };
    if (m_services.timers) m_timer = m_services.timers->AddTimer(1000, &OnTimer, 0, this, 1);
    resize(785, 480);
}

CMainWindow::~CMainWindow() {
    if (m_services.timers && m_timer) m_services.timers->RemoveTimer(m_timer);
}

void CMainWindow::OnTimer(uint64_t, uint32_t reason, void* context) {
    if (reason == kTimerReasonTick) static_cast<CMainWindow*>(context)->RefreshStatus();
}

void CMainWindow::RefreshStatus() {
    CTaskManager* tasks = m_services.scan.tasks;
    if (tasks == nullptr || tasks->ActiveCount() == 0) {
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
    hide();
    if (m_onClose) m_onClose();
}

}  // namespace vexel
