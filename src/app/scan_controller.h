// The main window's side of loading: starts the scan job for what the user opened, files
// every loaded file into the study model and the thumbnail box, decides how much of it to decode,
// sends files of series on screen to their panels and first images to the thumbnails, and
// tells the user when nothing was found.
#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/job_message.h"
#include "engine/series_record.h"

class QWidget;

namespace vexel {

class CBinaryValueCacher;
class CDicomImage;
class CZIPEngine;
class CDicomScanAndLoadJob;
class CJobQueue;
class CMemoryManager;
class CMessageWndManager;
class CDicomThumbBox;
class CTaskManager;
class StudyModel;

struct ScanServices {
    CJobQueue* queue = nullptr;
    CTaskManager* tasks = nullptr;
    CMemoryManager* files = nullptr;
    CMessageWndManager* messages = nullptr;  // may be null: no message boxes
    CZIPEngine* zip = nullptr;               // null: archives cannot be read
    CBinaryValueCacher* cache = nullptr;     // where archive entries are unpacked
};

// A panel a scanned file goes to: it is delivered only while the panel exists and still
// shows the series at this load generation.
struct PanelLoad {
    uint32_t panelId = 0;
    uint32_t generation = 0;
};

// Where scanned files go, answered by the main window.
class IScanTargets {
public:
    virtual ~IScanTargets() = default;
    // The panels that show the series now; a new series may be opened here first.
    virtual std::vector<PanelLoad> PanelsFor(SeriesId series, bool newSeries) = 0;
    virtual void ThumbnailReady(SeriesId series, CDicomFile& file, CDicomImage& image) = 0;
    virtual void Deliver(const PanelLoad& panel, SeriesId series, CDicomFile& file,
                         CDicomImage& image) = 0;
};

class CScanController final : public IJobOwner {
public:
    // Files go into the model through the box.
    CScanController(ScanServices services, CDicomThumbBox& thumbs, QWidget* window);
    void SetTargets(IScanTargets* targets) { m_targets = targets; }
    // The running scan reads this folder next (the user opened a series from it).
    void PreferFolder(const std::string& folder);
    ~CScanController() override;

    // Starts a scan of the folders and files (one at a time: false while one runs).
    bool StartScan(std::vector<std::string> folders, std::vector<std::string> files,
                   bool opticalDisc);
    // Loads the files of a ZIP archive (false while a scan runs).
    bool StartArchive(std::string path);
    bool Scanning() const { return m_scan != nullptr; }
    // The task shown in the status bar, 0 when none.
    int32_t ScanTaskId() const;
    // The scan's job is gone: another may start.
    std::function<void()> onIdle;
    // The user answered yes to "scan another folder?" after a scan that found nothing.
    std::function<void()> onScanAnother;
    // Called with the result of each finished scan (tests, status bar).
    std::function<void(uint32_t loaded, uint32_t skipped)> onScanFinished;

    uint32_t OnJobMessage(CDicomJob& job, const JobMessage* message) override;

private:
    bool Submit(std::shared_ptr<CDicomScanAndLoadJob> job, bool opticalDisc);
    uint32_t OnFileLoaded(CDicomFile& file, const StudyFileKeys* keys);
    void OnFilePrepared(const JobMessage& message);
    void OnScanFinished();

    // Files between their load and their decoding: their series, the panels they go to, and
    // whether they make its thumbnail.
    struct Pending {
        SeriesId series = 0;
        std::vector<PanelLoad> panels;
        bool thumbnail = false;
    };

    ScanServices m_services;
    CDicomThumbBox& m_thumbs;
    QWidget* m_window;
    std::shared_ptr<CJobOwnerRegistry> m_registry = std::make_shared<CJobOwnerRegistry>();
    uint64_t m_ownerId = 0;
    std::shared_ptr<CDicomScanAndLoadJob> m_scan;
    bool m_opticalDisc = false;
    IScanTargets* m_targets = nullptr;
    std::map<const CDicomFile*, Pending> m_pending;
    // Message box answers may come after the controller is gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace vexel
