#include "app/viewer_app.h"

#include <QApplication>
#include <QMessageBox>
#include <QRect>
#include <QStatusBar>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/dicom_tags_wnd.h"
#include "app/main_window.h"
#include "app/message_wnd_manager.h"
#include "app/path_utilities.h"
#include "app/settings_language_code.h"
#include "app/updater.h"
#include "app/viewer_wnd_manager.h"
#include "app/workspace_panel.h"
#include "dicom/dicom_dictionary.h"
#include "engine/job_queue.h"
#include "engine/memory_manager.h"
#include "engine/task_manager.h"
#include "engine/zip_engine.h"
#include "engine/timer_service.h"
#include "engine/ui_dispatcher.h"
#include "engine/vexel_engine.h"
#include "engine/volume_manager.h"
#include "imaging/binary_value_cacher.h"
#include "imaging/binary_value_mem_cacher.h"
#include "imaging/jpeg_engine.h"
#include "imaging/pixel_caches.h"
#include "imaging/releasable_object_queue.h"
#include "measure/measurement_list.h"
#include "platform/executable_folder.h"
#include "platform/memory_load.h"
#include "platform/mini_dumper.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/quit_signal.h"
#include "support/language_environment.h"
#include "support/language_manager.h"
#include "viewer/cine_engine.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_cine.h"
#include "viewer/viewport_hash.h"
#include "viewer/volume_correspondence.h"
#include "viewer/window_preset.h"
#include "volume/fusion_engine.h"
#include "volume/mpr_engine.h"
#include "volume/reference_line_manager.h"

namespace vexel {
namespace {

// Queues a call on the UI thread for the services that hand work there; false when it could
// not be queued.
std::function<bool(std::function<void()>)> PosterTo(CUIDispatcher& dispatcher) {
    return [&dispatcher](std::function<void()> call) {
        return dispatcher
            .PostToUIThread([call = std::move(call)] {
                call();
                return uint32_t(0);
            })
            .has_value();
    };
}

}  // namespace

CViewerApp::CViewerApp(ViewerAppOptions options) : m_options(std::move(options)) {}

CViewerApp::~CViewerApp() = default;

void CViewerApp::Log(char sign, std::string_view name) const {
    if (m_options.serviceLog) m_options.serviceLog(std::string(1, sign) + std::string(name));
}

template <typename T>
void CViewerApp::Destroy(std::unique_ptr<T>& service, std::string_view name) {
    if (!service) return;
    service.reset();
    Log('-', name);
}

int CViewerApp::Run(int argc, char** argv) {
    if (QApplication::instance() == nullptr) return 0;
    m_arguments.assign(argv + (argc > 0 ? 1 : 0), argv + argc);
    m_request = ParseCommandLine(m_arguments);
    m_loop = std::make_unique<CQtEventLoop>();
    // Before the services: a signal that comes during start-up is answered once the loop runs.
    m_quitSignals = std::make_unique<CQuitSignalNotifier>([this] { RequestQuit(); });
    if (!OnCreate()) {
        m_quitSignals.reset();
        OnDestroy();
        return 0;
    }
    m_loop->Run();
    m_quitSignals.reset();
    OnDestroy();
    m_loop.reset();
    return 0;
}

bool CViewerApp::OnCreate() {
    if (!CreatePhaseOne() || !CreatePhaseTwo()) return false;
    ShowMainWindow();
    return true;
}

bool CViewerApp::CreatePhaseOne() {
    m_dispatcher = std::make_unique<CUIDispatcher>(*m_loop);
    Log('+', "CUIDispatcher");
    AttachLoop(m_loop.get(), m_dispatcher.get());
    m_engine = std::make_unique<CVexelEngine>(*m_dispatcher);
    Log('+', "CVexelEngine");
    if (!RegisterSystemHooks(*m_engine, m_hooks)) return false;
    Log('+', "hooks");
    m_timers = std::make_unique<CTimerService>();
    m_loop->SetTick(std::chrono::milliseconds(100), [timers = m_timers.get()] { timers->Tick(); });
    Log('+', "CTimerService");
    m_codecs = std::make_unique<CJPEGEngine>();
    Log('+', "CJPEGEngine");
    m_settings = m_options.folders ? std::make_unique<COptions>(*m_options.folders)
                                   : COptions::FromEnvironment();
    m_settings->LoadSettings();
    Log('+', "COptions");
    m_memoryLoad = std::make_unique<CSystemMemoryLoad>();
    m_releaseQueue = std::make_unique<CReleasableObjectQueue>();
    // Without a per-user folder there is no instance folder and so no disk cache.
    if (!m_settings->InstanceFolder().empty()) {
        m_diskCache = std::make_unique<CBinaryValueCacher>(m_settings->InstanceFolder());
        Log('+', "CBinaryValueCacher");
    }
    m_memoryCache = std::make_unique<CBinaryValueMemCacher>(
        [this] { return m_memoryManager && m_memoryManager->IsMemoryLoadCritical(); },
        m_memoryLoad.get());
    InstallPixelCaches({m_releaseQueue.get(), m_diskCache.get()});
    Log('+', "CBinaryValueMemCacher");
    m_languageCode = std::make_unique<CSettingsLanguageCode>(m_settings->SettingsPath());
    m_languages = std::make_unique<CLanguageManager>();
    m_languages->Initialise({m_settings->UserDataFolder(),
                             ProgramLanguageFolders(ExecutableFolder()), SessionLocaleName(),
                             m_languageCode.get()});
    Log('+', "CLanguageManager");
    // Crash reports name the update-check identifier and the language; the language chosen
    // in the menu takes effect only at the next start, so these stay right for the run.
    if (CMiniDumper* crashDumper = CMiniDumper::Instance()) {
        crashDumper->SetUpdateCheckId(m_settings->Settings().updateCheckId);
        crashDumper->SetLanguage(m_languages->LoadedCode(), m_languages->LoadedFullVersion());
    }
    m_messageBoxes = std::make_unique<CMessageWndManager>(*m_languages);
    Log('+', "CMessageWndManager");
    m_downloads = std::make_unique<CHttpDownloadManager>(*m_loop);
    Log('+', "CHttpDownloadManager");
    UpdaterHooks hooks;
    hooks.languageCode = [this] { return m_languages ? m_languages->LoadedCode() : std::string(); };
    hooks.saveSettings = [this] { m_settings->SaveSettings(); };
    hooks.notice = [this](const std::string& heading, const std::string& text) {
        if (m_messageBoxes && m_mainWindow)
            m_messageBoxes->ShowMessage(heading, text, m_mainWindow.get(), MessageKind::Notice);
    };
    m_updater = std::make_unique<CUpdater>(*m_downloads, m_settings->Settings(), std::move(hooks));
    Log('+', "CUpdater");
    return true;
}

bool CViewerApp::CreatePhaseTwo() {
    MemoryManagerOptions memoryOptions;
    memoryOptions.beforeOpen = m_options.beforeFileOpen;
    m_memoryManager = std::make_unique<CMemoryManager>(*m_releaseQueue, m_memoryCache.get(),
                                                       *m_memoryLoad, std::move(memoryOptions));
    Log('+', "CMemoryManager");
    m_dictionary = std::make_unique<CDicomDictionary>();
    Log('+', "CDicomDictionary");
    // The queue counts itself among the work the quit waits for, and stops on the shutdown hook.
    m_jobs = std::make_unique<CJobQueue>(*m_dispatcher, m_engine.get(),
                                         PendingShutdownHooks{[this] { AddPendingShutdown(); },
                                                              [this] { RemovePendingShutdown(); }});
    Log('+', "CJobQueue");
    m_seriesStates = std::make_unique<CSeriesStateStore>();
    Log('+', "CSeriesStateStore");
    m_measurements = std::make_unique<CMeasurementLists>();
    Log('+', "CMeasurementLists");
    m_presets = std::make_unique<CWindowPresetTable>();
    Log('+', "CWindowPresetTable");
    m_tasks = std::make_unique<CTaskManager>();
    Log('+', "CTaskManager");
    m_volumes = std::make_unique<CVolumeManager>(m_engine.get(), m_hooks.volumeManager);
    m_correspondence = std::make_unique<CVolumeCorrespondence>(*m_volumes);
    Log('+', "CVolumeManager");
    CReferenceLineManager::Lookups lookups;
    lookups.panel = [this](uint32_t panelId) -> CViewport2D* {
        CWorkspacePanel* panel = m_windows ? m_windows->FindPanel(panelId) : nullptr;
        return panel != nullptr ? &panel->Viewport() : nullptr;
    };
    lookups.viewport = [this](uint32_t viewportId) -> CViewport2D* {
        CWorkspacePanel* panel = m_windows ? m_windows->FindViewport(viewportId) : nullptr;
        return panel != nullptr ? &panel->Viewport() : nullptr;
    };
    m_referenceLines = std::make_unique<CReferenceLineManager>(m_engine.get(), std::move(lookups));
    Log('+', "CReferenceLineManager");
    CineEngineServices cine;
    cine.postToUI = PosterTo(*m_dispatcher);
    cine.findPlayer = [](uint32_t panelId) -> ICinePlayer* {
        CViewport2D* viewport = CViewportHash::Instance().FindPanel(panelId);
        return viewport != nullptr ? &viewport->Cine() : nullptr;
    };
    m_cine = std::make_unique<CCineEngine>(std::move(cine));
    Log('+', "CCineEngine");
    // The archive module is loaded at the first archive opened.
    m_zip = std::make_unique<CZIPEngine>();
    Log('+', "CZIPEngine");
    // The reformatting thread counts among the work the quit waits for, as the job queue does.
    MprEngineServices mpr;
    mpr.postToUI = PosterTo(*m_dispatcher);
    mpr.engine = m_engine.get();
    mpr.pending = {[this] { AddPendingShutdown(); }, [this] { RemovePendingShutdown(); }};
    mpr.blockBytes = [load = m_memoryLoad.get()] { return MprBlockBudget(*load); };
    m_mpr = std::make_unique<CMPREngine>(std::move(mpr));
    m_mprServices = {m_mpr.get(),
                     m_memoryManager.get(),
                     m_tasks.get(),
                     m_volumes.get(),
                     [](uint32_t id) { return GetString(id); },
                     [this](const std::string& message) {
                         if (m_messageBoxes && m_mainWindow)
                             m_messageBoxes->ShowMessage(message, {}, m_mainWindow.get(),
                                                         MessageKind::Notice);
                     }};
    Log('+', "CMPREngine");
    m_fusion = std::make_unique<CFusionEngine>(m_engine.get(), m_volumes.get(),
                                               [](uint32_t id) { return GetString(id); });
    m_fusionServices = {m_fusion.get(), m_volumes.get(), [](uint32_t id) { return GetString(id); }};
    Log('+', "CFusionEngine");
    m_windows = std::make_unique<CViewerWndManager>();
    Log('+', "CViewerWndManager");
    MainWindowServices services;
    services.windows = m_windows.get();
    services.workspaceHook = m_hooks.workspace;
    services.scan = {m_jobs.get(), m_tasks.get(), m_memoryManager.get(), m_messageBoxes.get(),
                     m_zip.get(), m_diskCache.get()};
    services.timers = m_timers.get();
    services.jpeg = m_codecs.get();
    services.viewport.states = m_seriesStates.get();
    services.viewport.measurements = m_measurements.get();
    services.viewport.presets = m_presets.get();
    services.viewport.engine = m_engine.get();
    services.viewport.viewportHook = m_hooks.viewport2D;
    services.viewport.text = [](uint32_t id) { return GetString(id); };
    services.viewport.cine = m_cine.get();
    services.viewport.renderCache = m_memoryCache.get();
    services.viewport.volumes = m_volumes.get();
    services.viewport.correspondingImages = m_correspondence.get();
    services.viewport.mprTool = [this](CViewport2D& viewport) {
        return std::make_unique<CViewport2DMPR>(viewport, m_mprServices);
    };
    services.viewport.fusionTool = [this](CViewport2D& viewport) {
        return std::make_unique<CViewport2DFusion>(viewport, m_fusionServices);
    };
    services.fusion = m_fusion.get();
    services.options = m_settings.get();
    services.updater = m_updater.get();
    if (m_settings) {
        services.viewport.layerMask = m_settings->AnnotationDisplayBits();
        services.layerMaskChanged = [options = m_settings.get()](uint32_t mask) {
            options->SetAnnotationDisplayBits(mask);
        };
        services.viewport.autoSynchronise = [options = m_settings.get()] {
            return options->AutomaticSynchronisation();
        };
    }
    m_mainWindow = std::make_unique<CMainWindow>(services, [this] { RequestQuit(); });
    Log('+', "CMainWindow");
    return true;
}

// Nothing goes over the network before the user agreed; the question is asked once, and
// only when an update server is configured.
void CViewerApp::StartUpdateCheck() {
    if (!m_updater || !m_updater->Enabled() || m_options.quitWhenShown) return;
    m_updater->SetOwner(m_mainWindow.get());
    StoredSettings& settings = m_settings->Settings();
    if (!settings.checkUpdateAnswered) {
        const auto answer =
            QMessageBox::question(m_mainWindow.get(), QString::fromStdString(GetString(3501)),
                                  QString::fromStdString(GetString(7040)));
        settings.checkForUpdates = answer == QMessageBox::Yes;
        settings.checkUpdateAnswered = true;
        m_settings->SaveSettings();
    }
    m_updater->CheckForUpdates(false);
}

void CViewerApp::ShowMainWindow() {
    const WindowPlacement& stored = m_settings->Settings().windowPlacement;
    m_mainWindow->ShowAtPlacement(
        {QRect(stored.x, stored.y, stored.width, stored.height), stored.maximized,
         stored.fullScreen},
        stored.valid);
    // Reported from the loop, once the window has been laid out and painted.
    QTimer::singleShot(0, m_mainWindow.get(), [this] {
        OpenFromCommandLine();
        StartUpdateCheck();
        if (m_options.onShown) m_options.onShown();
        if (m_options.quitWhenShown) RequestQuit();
    });
}

void CViewerApp::OpenFromCommandLine() {
    // A desktop may hand over http:// and other URIs; they are named, never scanned as paths.
    if (!m_request.refused.empty()) {
        std::string list;
        for (const std::string& uri : m_request.refused) {
            std::fprintf(stderr, "vexel-viewer: not a local file, not opened: %s\n", uri.c_str());
            list += (list.empty() ? "" : "\n") + uri;
        }
        m_messageBoxes->ShowMessage(GetString(7041), list, m_mainWindow.get(), MessageKind::Notice);
    }
    if (m_request.archive) {
        m_mainWindow->OpenArchive(*m_request.archive, false);
        return;
    }
    std::vector<std::string> paths = m_request.folders;
    paths.insert(paths.end(), m_request.files.begin(), m_request.files.end());
    m_mainWindow->OpenPaths(paths, false);
}

void CViewerApp::RecordPlacement() {
    if (!m_mainWindow || !m_settings) return;
    const CMainWindow::Placement current = m_mainWindow->CurrentPlacement();
    const QRect normal = current.normal;
    WindowPlacement& placement = m_settings->Settings().windowPlacement;
    placement.valid = normal.width() > 0 && normal.height() > 0;
    placement.x = normal.x();
    placement.y = normal.y();
    placement.width = normal.width();
    placement.height = normal.height();
    placement.maximized = current.maximized;
    placement.fullScreen = current.fullScreen;
}

void CViewerApp::OnQuitRequest() {
    if (m_engine) m_engine->FireHook(m_hooks.application, EventCode(ApplicationEvent::Shutdown), 0);
    if (PendingShutdowns() <= 0 || m_quitDeadline) return;
    // The workers were told to stop; one stuck in a system call would hold the quit forever.
    m_quitDeadline = std::make_unique<QTimer>();
    m_quitDeadline->setSingleShot(true);
    QObject::connect(m_quitDeadline.get(), &QTimer::timeout, [this] { QuitWithoutWaiting(); });
    m_quitDeadline->start(static_cast<int>(m_options.quitGrace.count()));
}

// A worker still counted in may be using any service: none is destroyed. What the user
// expects of a quit is done (the settings written, the instance folder removed), then the
// process ends with the stuck thread.
void CViewerApp::EndWithoutStuckWorkers() {
    std::fprintf(stderr, "vexel-viewer: a background thread did not stop; quitting without it\n");
    RecordPlacement();
    if (m_settings) {
        m_settings->SaveSettings();
        m_settings->Shutdown();
    }
    std::fflush(nullptr);
    if (!m_options.endProcess) std::_Exit(0);
    m_options.endProcess(0);
}

void CViewerApp::OnDestroy() {
    m_quitDeadline.reset();
    if (Quitting() && PendingShutdowns() > 0) EndWithoutStuckWorkers();
    RecordPlacement();
    CDicomTagsWnd::CloseAll();
    Destroy(m_mainWindow, "CMainWindow");
    Destroy(m_windows, "CViewerWndManager");
    Destroy(m_fusion, "CFusionEngine");
    Destroy(m_mpr, "CMPREngine");
    Destroy(m_zip, "CZIPEngine");
    Destroy(m_cine, "CCineEngine");
    Destroy(m_referenceLines, "CReferenceLineManager");
    m_correspondence.reset();
    Destroy(m_volumes, "CVolumeManager");
    // The queue goes before the task manager its jobs report to.
    Destroy(m_jobs, "CJobQueue");
    Destroy(m_tasks, "CTaskManager");
    Destroy(m_presets, "CWindowPresetTable");
    Destroy(m_measurements, "CMeasurementLists");
    Destroy(m_seriesStates, "CSeriesStateStore");
    Destroy(m_dictionary, "CDicomDictionary");
    Destroy(m_memoryManager, "CMemoryManager");
    Destroy(m_updater, "CUpdater");
    Destroy(m_downloads, "CHttpDownloadManager");
    Destroy(m_messageBoxes, "CMessageWndManager");
    Destroy(m_languages, "CLanguageManager");
    m_languageCode.reset();
    Destroy(m_memoryCache, "CBinaryValueMemCacher");
    // Frames are gone with the files: the queue and the disk cache may go.
    InstallPixelCaches({});
    Destroy(m_diskCache, "CBinaryValueCacher");
    m_releaseQueue.reset();
    m_memoryLoad.reset();
    if (m_settings) {
        m_settings->SaveSettings();
        // Removes this instance's folder and those of instances that ended without doing so.
        Destroy(m_settings, "COptions");
    }
    Destroy(m_codecs, "CJPEGEngine");
    if (m_loop) m_loop->SetTick(std::chrono::milliseconds(0), nullptr);
    Destroy(m_timers, "CTimerService");
    if (m_engine && m_hooks.application) {
        UnregisterSystemHooks(*m_engine, m_hooks);
        Log('-', "hooks");
    }
    Destroy(m_engine, "CVexelEngine");
    AttachLoop(m_loop.get(), nullptr);
    Destroy(m_dispatcher, "CUIDispatcher");
}

}  // namespace vexel
