// The program object: entry into the user-interface loop, the orderly exit protocol and the
// count of components that must finish before the process may quit.
//
// Exit: RequestQuit marks the application quitting and lets OnQuitRequest stop the workers;
// each component that counted itself in with AddPendingShutdown counts itself out when its
// work has ended, and the last one out (or RequestQuit itself, when none is pending) queues
// the quit on the user-interface thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace vexel {

class IEventLoop;
class CUIDispatcher;

class CApplication {
public:
    // Publishes the object as the process's application.
    CApplication();
    virtual ~CApplication();
    CApplication(const CApplication&) = delete;
    CApplication& operator=(const CApplication&) = delete;

    static CApplication* Instance();

    // Runs the program; returns the exit code.
    virtual int Run(int argc, char** argv) = 0;

    // User-interface thread.
    void RequestQuit();
    bool Quitting() const { return m_quitting; }
    // Any thread.
    void AddPendingShutdown();
    void RemovePendingShutdown();
    int32_t PendingShutdowns() const { return m_pendingShutdown; }

protected:
    // Start-up and shutdown of the services; OnCreate false ends Run at once.
    virtual bool OnCreate() = 0;
    virtual void OnDestroy() = 0;
    virtual void OnQuitRequest() {}
    // The loop and dispatcher that carry the quit; set by the derived class.
    void AttachLoop(IEventLoop* loop, CUIDispatcher* dispatcher);
    // Ends the loop although components are still counted in: for workers that will not
    // stop (a thread stuck in a system call); the caller then must not wait for them.
    void QuitWithoutWaiting() { QueueQuit(); }

private:
    void QueueQuit();

    IEventLoop* m_loop = nullptr;
    CUIDispatcher* m_dispatcher = nullptr;
    std::atomic<bool> m_quitting{false};
    std::atomic<int32_t> m_pendingShutdown{0};
};

}  // namespace vexel
