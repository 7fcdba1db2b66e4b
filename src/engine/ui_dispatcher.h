// Runs functions on the user-interface thread (the event loop's thread) for any thread,
// waiting for the result or not. Calls from one thread run in the order they were made.
//
// Once the loop has ended, or the dispatcher is gone, calls fail at once and queued calls
// never run: a worker cannot block shutdown, and a call queued late cannot touch objects
// that teardown already destroyed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/event_loop.h"

namespace vexel {

class CUIDispatcher {
public:
    using UIFunction = uint32_t (*)(uintptr_t a, uintptr_t b);
    using UICall = std::function<uint32_t()>;

    // The loop must outlive the dispatcher.
    explicit CUIDispatcher(IEventLoop& loop);
    ~CUIDispatcher();
    CUIDispatcher(const CUIDispatcher&) = delete;
    CUIDispatcher& operator=(const CUIDispatcher&) = delete;

    bool IsUIThread() const { return m_loop.IsLoopThread(); }

    // On the UI thread the call runs at once. From another thread it blocks until the UI
    // thread ran it. Empty when the call never ran (no function, loop ended, dispatcher
    // destroyed while it was queued).
    std::optional<uint32_t> CallOnUIThread(UIFunction function, uintptr_t a, uintptr_t b);
    std::optional<uint32_t> CallOnUIThread(UICall call);

    // On the UI thread function(a, 0) runs at once and its result is returned. From another
    // thread the call is queued and 0 returned at once. Empty when it was not queued.
    std::optional<uint32_t> PostToUIThread(UIFunction function, uintptr_t a);
    std::optional<uint32_t> PostToUIThread(UICall call);

private:
    struct SharedState;

    IEventLoop& m_loop;
    std::shared_ptr<SharedState> m_state;
};

}  // namespace vexel
