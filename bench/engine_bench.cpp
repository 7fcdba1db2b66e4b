// FireHook from a worker thread: the round trip through the loop thread and back.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/vexel_engine.h"
#include "platform/headless_event_loop.h"

namespace vexel {
namespace {

uint32_t Count(uint32_t, uint64_t payload, void* context) {
    ++*static_cast<uint64_t*>(context);
    return static_cast<uint32_t>(payload);
}

// A loop thread with an engine and one subscribed hook, as the application sets it up.
class LoopThread {
public:
    LoopThread() : m_thread([this] { Main(); }) {
        std::unique_lock lock(m_mutex);
        m_ready.wait(lock, [this] { return m_engine != nullptr; });
    }

    ~LoopThread() {
        m_loop->Quit();
        m_thread.join();
    }

    CVexelEngine& Engine() { return *m_engine; }
    HookHandle Hook() const { return m_hook; }

private:
    void Main() {
        CHeadlessEventLoop loop;
        CUIDispatcher dispatcher(loop);
        CVexelEngine engine(dispatcher);
        uint64_t calls = 0;
        HookHandle hook = engine.RegisterHook("VexelHook/Bench/Event");
        engine.Subscribe("VexelHook/Bench/Event", Count, &calls);
        {
            std::lock_guard lock(m_mutex);
            m_loop = &loop;
            m_hook = hook;
            m_engine = &engine;
        }
        m_ready.notify_all();
        loop.Run();
    }

    std::mutex m_mutex;
    std::condition_variable m_ready;
    CHeadlessEventLoop* m_loop = nullptr;
    CVexelEngine* m_engine = nullptr;
    HookHandle m_hook;
    std::thread m_thread;
};

void BM_FireHookFromWorker(benchmark::State& state) {
    LoopThread loopThread;
    CVexelEngine& engine = loopThread.Engine();
    uint64_t payload = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.FireHook(loopThread.Hook(), 5, payload++));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FireHookFromWorker)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The same delivery made on the loop thread itself: the cost without the thread hop.
void BM_FireHookOnLoopThread(benchmark::State& state) {
    CHeadlessEventLoop loop;
    CUIDispatcher dispatcher(loop);
    CVexelEngine engine(dispatcher);
    uint64_t calls = 0;
    HookHandle hook = engine.RegisterHook("VexelHook/Bench/Event");
    engine.Subscribe("VexelHook/Bench/Event", Count, &calls);
    uint64_t payload = 1;
    for (auto _ : state)
        benchmark::DoNotOptimize(engine.FireHook(hook, 5, payload++));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FireHookOnLoopThread)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vexel

BENCHMARK_MAIN();
