// Decides when each playing panel is due for its next image. A timing thread, alive while
// at least one panel plays, watches the schedule and hands the due panels to the UI thread
// as one tick at a time; the tick advances their viewports there, so the thread itself never
// touches a viewport.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace vexel {

// What the tick drives: one panel's playback.
class ICinePlayer {
public:
    virtual ~ICinePlayer() = default;
    // Shows the next image; returns when the one after it is due (microseconds of the
    // engine's clock), 0 when the panel should not be scheduled again.
    virtual uint64_t Advance() = 0;
};

struct CineEngineServices {
    // Microseconds; empty: the steady clock.
    std::function<uint64_t()> clock;
    // Queues a call on the UI thread; false when it could not be queued.
    std::function<bool(std::function<void()>)> postToUI;
    // The player of a panel, on the UI thread; null when the panel or its viewport is gone.
    std::function<ICinePlayer*(uint32_t panelId)> findPlayer;
};

class CCineEngine {
public:
    // A tick works for at most this long, so that many panels never freeze the UI.
    static constexpr uint64_t kTickBudgetUs = 10000;

    explicit CCineEngine(CineEngineServices services);
    // Stops every panel; a tick still queued then does nothing.
    ~CCineEngine();
    CCineEngine(const CCineEngine&) = delete;
    CCineEngine& operator=(const CCineEngine&) = delete;

    // Calls from the UI thread. StartCine is false when the panel already plays; the panel
    // is due at once. StopCine is false when it did not play; stopping the last panel ends
    // and joins the timing thread.
    bool StartCine(uint32_t panelId, float rate);
    bool StopCine(uint32_t panelId);
    void Schedule(uint32_t panelId, uint64_t due);

    bool IsPlaying(uint32_t panelId) const;
    bool TimingThreadRunning() const { return m_thread.joinable(); }
    uint64_t Now() const;

private:
    struct State;

    std::shared_ptr<State> m_state;  // shared with the ticks queued on the UI thread
    std::jthread m_thread;
};

}  // namespace vexel
