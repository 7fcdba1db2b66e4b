#include "app/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenuBar>

namespace vexel {

CMainWindow::CMainWindow(std::function<void()> onClose) : m_onClose(std::move(onClose)) {
    setWindowTitle("Vexel DICOM Viewer");
    QMenu* file = menuBar()->addMenu("&File");
    QAction* exit = file->addAction("E&xit");
    connect(exit, &QAction::triggered, this, &QWidget::close);
    resize(785, 480);
}

void CMainWindow::closeEvent(QCloseEvent* event) {
    // The window goes at once; the process ends when the workers have finished.
    event->ignore();
    hide();
    if (m_onClose) m_onClose();
}

}  // namespace vexel
