// The main window. For now a frame with the program's title, a File menu, the list of loaded
// patients, studies and series, and the loading progress in the status bar; closing it hides
// it and asks the application to quit in order.
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>

#include "app/scan_controller.h"

class QLabel;
class QProgressBar;

namespace vexel {

class CStudyTree;
class CTimerService;
class StudyModel;

struct MainWindowServices {
    ScanServices scan;
    CTimerService* timers = nullptr;  // drives the once-a-second status refresh
};

class CMainWindow final : public QMainWindow {
    Q_OBJECT

public:
    CMainWindow(MainWindowServices services, std::function<void()> onClose);
    ~CMainWindow() override;

    CScanController& Scans() { return *m_scans; }
    CStudyTree& Tree() { return *m_tree; }
    StudyModel& Model() { return *m_model; }
    // The once-a-second refresh of the status bar.
    void RefreshStatus();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    static void OnTimer(uint64_t timerId, uint32_t reason, void* context);

    MainWindowServices m_services;
    std::function<void()> m_onClose;
    std::unique_ptr<StudyModel> m_model;
    CStudyTree* m_tree = nullptr;  // owned by the window
    std::unique_ptr<CScanController> m_scans;
    QLabel* m_statusText = nullptr;
    QProgressBar* m_progress = nullptr;
    uint64_t m_timer = 0;
};

}  // namespace vexel
