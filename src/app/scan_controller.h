// The main window's side of loading: starts the scan job for what the user opened, files
// every loaded file into the study model and the tree, decides how much of it to decode,
// and tells the user when nothing was found.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/job_message.h"

class QWidget;

namespace vexel {

class CDicomScanAndLoadJob;
class CJobQueue;
class CMemoryManager;
class CMessageWndManager;
class CStudyTree;
class CTaskManager;
class StudyModel;

struct ScanServices {
    CJobQueue* queue = nullptr;
    CTaskManager* tasks = nullptr;
    CMemoryManager* files = nullptr;
    CMessageWndManager* messages = nullptr;  // may be null: no message boxes
};

class CScanController final : public IJobOwner {
public:
    CScanController(ScanServices services, StudyModel& model, CStudyTree& tree, QWidget* window);
    ~CScanController() override;

    // Starts a scan of the folders and files (one at a time: false while one runs).
    bool StartScan(std::vector<std::string> folders, std::vector<std::string> files,
                   bool opticalDisc);
    bool Scanning() const { return m_scan != nullptr; }
    // The task shown in the status bar, 0 when none.
    int32_t ScanTaskId() const;
    // Asks where to look and scans there.
    void AskForFolder();
    // Called with the result of each finished scan (tests, status bar).
    std::function<void(uint32_t loaded, uint32_t skipped)> onScanFinished;

    uint32_t OnJobMessage(CDicomJob& job, const JobMessage* message) override;

private:
    uint32_t OnFileLoaded(CDicomFile& file);
    void OnScanFinished();

    ScanServices m_services;
    StudyModel& m_model;
    CStudyTree& m_tree;
    QWidget* m_window;
    std::shared_ptr<CJobOwnerRegistry> m_registry = std::make_shared<CJobOwnerRegistry>();
    uint64_t m_ownerId = 0;
    std::shared_ptr<CDicomScanAndLoadJob> m_scan;
    bool m_opticalDisc = false;
    // Message box answers may come after the controller is gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace vexel
