#include "app/viewer_app.h"

#include <QApplication>
#include <QTimer>

#include "app/main_window.h"
#include "dicom/dicom_dictionary.h"
#include "engine/memory_manager.h"
#include "engine/timer_service.h"
#include "engine/ui_dispatcher.h"
#include "engine/vexel_engine.h"
#include "imaging/binary_value_cacher.h"
#include "imaging/binary_value_mem_cacher.h"
#include "imaging/jpeg_engine.h"
#include "imaging/pixel_caches.h"
#include "imaging/releasable_object_queue.h"
#include "platform/memory_load.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/quit_signal.h"

namespace vexel {

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
    m_loop = std::make_unique<CQtEventLoop>();
    if (!OnCreate()) {
        OnDestroy();
        return 0;
    }
    m_quitSignals = std::make_unique<CQuitSignalNotifier>([this] { RequestQuit(); });
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
    m_memoryLoad = std::make_unique<CSystemMemoryLoad>();
    m_releaseQueue = std::make_unique<CReleasableObjectQueue>();
    m_memoryCache = std::make_unique<CBinaryValueMemCacher>(
        [load = m_memoryLoad.get()] {
            const auto status = load->Read();
            return status && status->loadPercent > 85;
        },
        m_memoryLoad.get());
    InstallPixelCaches({m_releaseQueue.get(), m_diskCache.get()});
    Log('+', "CBinaryValueMemCacher");
    return true;
}

bool CViewerApp::CreatePhaseTwo() {
    m_memoryManager = std::make_unique<CMemoryManager>(*m_releaseQueue, m_memoryCache.get(),
                                                       *m_memoryLoad);
    Log('+', "CMemoryManager");
    m_dictionary = std::make_unique<CDicomDictionary>();
    Log('+', "CDicomDictionary");
    m_mainWindow = std::make_unique<CMainWindow>([this] { RequestQuit(); });
    Log('+', "CMainWindow");
    return true;
}

void CViewerApp::ShowMainWindow() {
    m_mainWindow->showMaximized();
    // Reported from the loop, once the window has been laid out and painted.
    QTimer::singleShot(0, m_mainWindow.get(), [this] {
        if (m_options.onShown) m_options.onShown();
        if (m_options.quitWhenShown) RequestQuit();
    });
}

void CViewerApp::OnQuitRequest() {
    if (m_engine) m_engine->FireHook(m_hooks.application, EventCode(ApplicationEvent::Shutdown), 0);
}

void CViewerApp::OnDestroy() {
    Destroy(m_mainWindow, "CMainWindow");
    Destroy(m_dictionary, "CDicomDictionary");
    Destroy(m_memoryManager, "CMemoryManager");
    Destroy(m_memoryCache, "CBinaryValueMemCacher");
    // Frames are gone with the files: the queue and the disk cache may go.
    InstallPixelCaches({});
    Destroy(m_diskCache, "CBinaryValueCacher");
    m_releaseQueue.reset();
    m_memoryLoad.reset();
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
