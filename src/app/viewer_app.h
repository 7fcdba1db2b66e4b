// The viewer: creates the process-wide services in their fixed order, runs the Qt loop with
// the main window, and destroys the services in their fixed order, users before what they
// use.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/application.h"
#include "app/command_line.h"
#include "app/options.h"
#include "engine/system_hooks.h"
#include "volume/viewport_fusion.h"
#include "volume/viewport_mpr.h"

class QTimer;

namespace vexel {

class CQtEventLoop;
class CQuitSignalNotifier;
class CUIDispatcher;
class CVexelEngine;
class CTimerService;
class CJPEGEngine;
class CReleasableObjectQueue;
class CBinaryValueCacher;
class CBinaryValueMemCacher;
class CMemoryManager;
class CDicomDictionary;
class IMemoryLoadSource;
class CMainWindow;
class CSeriesStateStore;
class CMeasurementLists;
class CReferenceLineManager;
class CViewerWndManager;
class CLanguageManager;
class CMessageWndManager;
class CHttpDownloadManager;
class CUpdater;
class CSettingsLanguageCode;
class CJobQueue;
class CTaskManager;
class CWindowPresetTable;
class CCineEngine;
class CMPREngine;
class CZIPEngine;
class CFusionEngine;
class CVolumeManager;
class CVolumeCorrespondence;

struct ViewerAppOptions {
    // Records "+Name" as each service is created and "-Name" as it is destroyed.
    std::function<void(std::string_view)> serviceLog;
    // Requests the quit as soon as the main window is shown (start-up timing, tests).
    bool quitWhenShown = false;
    // Called once the main window is on screen.
    std::function<void()> onShown;
    // Where the per-user data and settings folders are; empty: from the environment.
    std::optional<UserBaseFolders> folders;
    // How long a quit waits for the workers to stop before it goes on without them: a thread
    // stuck in a system call (a hung network mount) never stops.
    std::chrono::milliseconds quitGrace{5000};
    // Ends the process when a worker has not stopped, once the settings are written and the
    // instance folder is removed; empty: std::_Exit. A test's hook may return after releasing
    // its worker, and the shutdown then goes on in order.
    std::function<void(int)> endProcess;
    // Called on the loading thread before each file is opened (tests make storage slow).
    std::function<void(const std::string& path)> beforeFileOpen;
};

class CViewerApp final : public CApplication {
public:
    explicit CViewerApp(ViewerAppOptions options = {});
    ~CViewerApp() override;

    // Needs a QApplication. Returns the exit code.
    int Run(int argc, char** argv) override;

    CMainWindow* MainWindow() const { return m_mainWindow.get(); }
    COptions* Options() const { return m_settings.get(); }
    CMessageWndManager* MessageBoxes() const { return m_messageBoxes.get(); }
    CUpdater* Updater() const { return m_updater.get(); }
    CLanguageManager* Languages() const { return m_languages.get(); }
    const CommandLineRequest& OpenRequest() const { return m_request; }
    CVexelEngine* Engine() const { return m_engine.get(); }
    CMemoryManager* Memory() const { return m_memoryManager.get(); }

protected:
    bool OnCreate() override;
    void OnDestroy() override;
    void OnQuitRequest() override;

private:
    bool CreatePhaseOne();
    bool CreatePhaseTwo();
    void ShowMainWindow();
    void StartUpdateCheck();
    void RecordPlacement();
    void OpenFromCommandLine();
    void EndWithoutStuckWorkers();
    void Log(char sign, std::string_view name) const;
    template <typename T>
    void Destroy(std::unique_ptr<T>& service, std::string_view name);

    ViewerAppOptions m_options;
    std::vector<std::string> m_arguments;
    CommandLineRequest m_request;
    std::unique_ptr<CQtEventLoop> m_loop;
    std::unique_ptr<CQuitSignalNotifier> m_quitSignals;
    std::unique_ptr<QTimer> m_quitDeadline;

    // Services, in creation order.
    std::unique_ptr<CUIDispatcher> m_dispatcher;
    std::unique_ptr<CVexelEngine> m_engine;
    SystemHooks m_hooks;
    std::unique_ptr<CTimerService> m_timers;
    std::unique_ptr<CJPEGEngine> m_codecs;
    std::unique_ptr<COptions> m_settings;
    std::unique_ptr<IMemoryLoadSource> m_memoryLoad;
    std::unique_ptr<CReleasableObjectQueue> m_releaseQueue;
    std::unique_ptr<CBinaryValueCacher> m_diskCache;
    std::unique_ptr<CBinaryValueMemCacher> m_memoryCache;
    std::unique_ptr<CSettingsLanguageCode> m_languageCode;
    std::unique_ptr<CLanguageManager> m_languages;
    std::unique_ptr<CMessageWndManager> m_messageBoxes;
    std::unique_ptr<CHttpDownloadManager> m_downloads;
    std::unique_ptr<CUpdater> m_updater;
    std::unique_ptr<CMemoryManager> m_memoryManager;
    std::unique_ptr<CDicomDictionary> m_dictionary;
    std::unique_ptr<CJobQueue> m_jobs;
    std::unique_ptr<CSeriesStateStore> m_seriesStates;
    std::unique_ptr<CMeasurementLists> m_measurements;
    std::unique_ptr<CViewerWndManager> m_windows;
    std::unique_ptr<CWindowPresetTable> m_presets;
    std::unique_ptr<CTaskManager> m_tasks;
    std::unique_ptr<CVolumeManager> m_volumes;
    std::unique_ptr<CReferenceLineManager> m_referenceLines;
    std::unique_ptr<CVolumeCorrespondence> m_correspondence;  // the synchroniser's view of it
    std::unique_ptr<CCineEngine> m_cine;
    std::unique_ptr<CZIPEngine> m_zip;
    std::unique_ptr<CMPREngine> m_mpr;
    MprServices m_mprServices;  // what each viewport's reformatting tool is given
    std::unique_ptr<CFusionEngine> m_fusion;
    FusionServices m_fusionServices;  // and its fusion tool
    std::unique_ptr<CMainWindow> m_mainWindow;
};

}  // namespace vexel
