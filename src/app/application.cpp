#include "app/application.h"

#include "engine/ui_dispatcher.h"
#include "platform/event_loop.h"

namespace vexel {
namespace {

std::atomic<CApplication*> g_application{nullptr};

}  // namespace

CApplication::CApplication() {
    g_application = this;
}

CApplication::~CApplication() {
    CApplication* self = this;
    g_application.compare_exchange_strong(self, nullptr);
}

CApplication* CApplication::Instance() {
    return g_application.load();
}

void CApplication::AttachLoop(IEventLoop* loop, CUIDispatcher* dispatcher) {
    m_loop = loop;
    m_dispatcher = dispatcher;
}

void CApplication::RequestQuit() {
    if (m_quitting.exchange(true)) return;
    OnQuitRequest();
    if (m_pendingShutdown.load() <= 0) QueueQuit();
}

void CApplication::AddPendingShutdown() {
    ++m_pendingShutdown;
}

void CApplication::RemovePendingShutdown() {
    if (--m_pendingShutdown <= 0 && m_quitting) QueueQuit();
}

void CApplication::QueueQuit() {
    IEventLoop* loop = m_loop;
    if (loop == nullptr) return;
    // Through the dispatcher, so the quit comes after every call already queued to the
    // user-interface thread; straight to the loop when the dispatcher is gone.
    if (m_dispatcher == nullptr || !m_dispatcher->PostToUIThread([loop] {
            loop->Quit();
            return 0u;
        })) {
        loop->Quit();
    }
}

}  // namespace vexel
