// Jobs: the queue runs the newest job first with the older one paused and resumed, delivers
// from many pool threads and shuts down with busy pools; the series load for one panel; task
// percentages; the thread pool and parallel loop (every index covered once in chunks of 16,
// work handed only to idle threads, work handed out surviving the pool's destruction). The
// test thread is the loop thread; every state the tests wait for is followed by a post to
// the loop (a message or an end notice), so the pumping always wakes.
#include "engine/job_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/dicom_job.h"
#include "engine/image_load_job.h"
#include "engine/job_message.h"
#include "engine/memory_services.h"
#include "engine/parallel_thread_pool.h"
#include "engine/scan_and_load_job.h"
#include "engine/system_hooks.h"
#include "engine/task_manager.h"
#include "engine/thread_pool.h"
#include "engine/ui_dispatcher.h"
#include "engine/vexel_engine.h"
#include "engine_phantoms.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "platform/headless_event_loop.h"

namespace vexel {
namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr auto kShutdownBound = std::chrono::seconds(10);

struct JobScript {
    std::string name;
    uint32_t items = 3;
    uint32_t threads = 1;
    bool reportBoundaries = false;  // a message before each item is handed out
};

// Hands its items to a pool; each item sends one message. Sends a start message on its first
// run and a finish message when done, as the loading jobs do.
class ScriptedJob final : public CDicomJob {
public:
    ScriptedJob(CTaskManager& tasks, JobScript script)
        : CDicomJob(tasks, script.name), m_script(std::move(script)) {}

    const std::string& Name() const { return m_script.name; }
    uint32_t Runs() const { return m_runs.load(); }
    uint32_t HandedOut() const { return m_position.load(); }
    // Called on the pool thread before each item's work; set before the job is submitted.
    std::function<void(uint32_t index)> itemGate;

    JobState Run() override {
        ++m_runs;
        if (!BeginRun()) return JobState::Cancelled;
        CThreadPool pool(m_script.threads);
        if (m_position.load() == 0) SendMessage(Message(JobMessageCode::ScanStarted, 0));
        JobState state = HandOut(pool);
        pool.WaitIdle();
        if (state != JobState::Running) return state;
        state = FinishRun();
        if (state == JobState::Finished) {
            Tasks().EndTask(TaskId());
            SendMessage(Message(JobMessageCode::ScanFinished, 0));
        }
        return state;
    }

private:
    JobState HandOut(CThreadPool& pool) {
        while (m_position.load() < m_script.items) {
            if (m_script.reportBoundaries)
                SendMessage(Message(JobMessageCode::ListingComplete, m_position.load() + 1));
            const JobState state = CheckBetweenItems();
            if (state != JobState::Running) return state;
            const uint32_t index = ++m_position;
            if (!pool.Submit([this, index] { Item(index); })) ADD_FAILURE() << "pool refused";
        }
        return JobState::Running;
    }

    void Item(uint32_t index) {
        if (itemGate) itemGate(index);
        SendMessage(Message(JobMessageCode::FileLoaded, index));
        Tasks().SetTaskProgress(TaskId(), ++m_processed, m_script.items);
    }

    JobMessage Message(JobMessageCode code, uint32_t index) {
        return {.code = code, .index = index, .total = m_script.items, .job = this};
    }

    JobScript m_script;
    std::atomic<uint32_t> m_position{0};
    std::atomic<uint32_t> m_processed{0};
    std::atomic<uint32_t> m_runs{0};
};

// Records what reaches it, in arrival order; the queue delivers on the loop thread only.
struct RecordingOwner final : IJobOwner {
    std::function<void(ScriptedJob&, const JobMessage*)> onMessage;
    std::vector<JobMessageCode> codes;
    std::vector<std::string> items;     // "A3": item messages only
    std::vector<std::string> ended;     // job names, in the order their end notices came
    std::vector<std::string> finished;  // job names that sent their finish message
    std::set<uint32_t> ready;           // images that arrived with their first frame decoded

    uint32_t OnJobMessage(CDicomJob& job, const JobMessage* message) override {
        auto* scripted = dynamic_cast<ScriptedJob*>(&job);
        const std::string name = scripted ? scripted->Name() : "load";
        if (message != nullptr) codes.push_back(message->code);
        const CDicomFrame* first = message && message->image ? message->image->Frame(0) : nullptr;
        if (first && first->HasBuffer()) ready.insert(message->index);
        if (message == nullptr)
            ended.push_back(name);
        else if (message->code == JobMessageCode::ScanFinished)
            finished.push_back(name);
        else if (message->code == JobMessageCode::FileLoaded)
            items.push_back(name + std::to_string(message->index));
        if (scripted && onMessage) onMessage(*scripted, message);
        return 0;
    }
};

// Runs loop tasks until done() holds.
template <class Done>
void PumpUntil(CHeadlessEventLoop& loop, Done done) {
    while (!done()) {
        ASSERT_TRUE(loop.WaitForPending(1));
        loop.RunPending();
    }
}

// Loop, dispatcher, task manager and a receiver's owner registry with one owner.
struct Fixture {
    CHeadlessEventLoop loop;
    CUIDispatcher dispatcher{loop};
    CTaskManager tasks;
    std::shared_ptr<CJobOwnerRegistry> registry = std::make_shared<CJobOwnerRegistry>();
    RecordingOwner owner;
    uint64_t ownerId = registry->Register(owner);

    std::shared_ptr<ScriptedJob> MakeJob(JobScript script) {
        auto job = std::make_shared<ScriptedJob>(tasks, std::move(script));
        job->SetOwner(registry, ownerId);
        return job;
    }
};

TEST(JobQueue, NewestJobRunsFirstAndThePausedOneResumesWhereItStopped) {
    Fixture f;
    CJobQueue queue(f.dispatcher, nullptr);
    auto a = f.MakeJob({"A", 5, 1, true});
    auto b = f.MakeJob({"B", 3, 1});
    std::weak_ptr<ScriptedJob> watchA = a, watchB = b;
    f.owner.onMessage = [&](ScriptedJob& job, const JobMessage* message) {
        // Re-entering the queue and the job while A's thread waits for us: nothing is locked.
        // A reports its boundary before item 3 again when it resumes: submit B only once.
        if (b && job.Name() == "A" && message && message->code == JobMessageCode::ListingComplete &&
            message->index == 3) {
            EXPECT_TRUE(queue.Submit(std::move(b)));
            EXPECT_EQ(job.State(), JobState::PauseRequested);
        }
    };
    ASSERT_TRUE(queue.Submit(std::move(a)));
    PumpUntil(f.loop, [&] { return watchA.expired() && watchB.expired(); });

    // A's item 2 was handed out before the pause, so it is done before B starts.
    EXPECT_EQ(f.owner.items,
              (std::vector<std::string>{"A1", "A2", "B1", "B2", "B3", "A3", "A4", "A5"}));
    EXPECT_EQ(f.owner.finished, (std::vector<std::string>{"B", "A"}));
}

TEST(JobQueue, CancelMidRunStopsAtTheNextItem) {
    Fixture f;
    CJobQueue queue(f.dispatcher, nullptr);
    auto job = f.MakeJob({"A", 100, 2});
    // Items after the fifth wait until the cancel was made, however fast the pool runs.
    std::mutex gate;
    std::condition_variable gateChanged;
    bool cancelled = false;
    job->itemGate = [&](uint32_t index) {
        std::unique_lock lock(gate);
        if (index > 5) gateChanged.wait(lock, [&] { return cancelled; });
    };
    f.owner.onMessage = [&](ScriptedJob& j, const JobMessage* message) {
        if (message && message->code == JobMessageCode::FileLoaded && message->index == 5) {
            j.Cancel();
            std::lock_guard lock(gate);
            cancelled = true;
            gateChanged.notify_all();
        }
    };
    ASSERT_TRUE(queue.Submit(job));
    PumpUntil(f.loop, [&] { return f.owner.ended.size() == 1; });

    EXPECT_EQ(job->State(), JobState::Cancelled);
    // Item 5 and one more on each pool thread at most: the hand-out stops at the next item.
    EXPECT_LE(job->HandedOut(), 5u + 2u);
    EXPECT_EQ(f.owner.items.size(), job->HandedOut());  // what was handed out still ran
    EXPECT_TRUE(f.owner.finished.empty());
    EXPECT_EQ(f.tasks.ActiveCount(), 0u);  // the task ended with the cancel
}

TEST(JobQueue, MessagesForAnOwnerThatIsGoneAreDropped) {
    Fixture f;
    CJobQueue queue(f.dispatcher, nullptr);
    bool panelGone = false;
    f.owner.onMessage = [&](ScriptedJob&, const JobMessage* message) {
        // The panel is removed: it leaves the registry.
        if (message && message->code == JobMessageCode::FileLoaded && message->index == 3) {
            f.registry->Unregister(f.ownerId);
            panelGone = true;
        }
    };
    auto job = f.MakeJob({"P", 40, 2});
    std::weak_ptr<ScriptedJob> watch = job;
    ASSERT_TRUE(queue.Submit(std::move(job)));
    PumpUntil(f.loop, [&] { return panelGone; });
    const size_t itemsWhenGone = f.owner.items.size();
    PumpUntil(f.loop, [&] { return watch.expired(); });
    // Nothing after item 3, not even the end notice.
    EXPECT_EQ(f.owner.items.back(), "P3");
    EXPECT_EQ(f.owner.items.size(), itemsWhenGone);
    EXPECT_TRUE(f.owner.ended.empty());
}

// The application's side of the pending-shutdown count, as CApplication wires it.
struct PendingCount {
    std::atomic<int> in{0};
    std::atomic<int> out{0};
    std::atomic<bool> outOnLoopThread{false};
    std::function<void()> whenOut;

    PendingShutdownHooks Hooks(IEventLoop& loop) {
        return {[this] { ++in; },
                [this, &loop] {
                    if (loop.IsLoopThread()) outOnLoopThread = true;
                    ++out;
                    if (whenOut) whenOut();
                }};
    }
};

TEST(JobQueue, DestroyedWhileThePoolWaitsOnTheLoopEndsPromptlyAndDeliversNothingMore) {
    Fixture f;
    PendingCount pending;
    auto queue = std::make_unique<CJobQueue>(f.dispatcher, nullptr, pending.Hooks(f.loop));
    auto job = f.MakeJob({"A", 1000, 4});
    ScriptedJob* raw = job.get();
    ASSERT_TRUE(queue->Submit(job));
    PumpUntil(f.loop, [&] { return f.owner.items.size() >= 2; });

    // The loop is not pumped any more: the pool threads stay blocked on it until released.
    const auto start = SteadyClock::now();
    queue.reset();
    EXPECT_LT(SteadyClock::now() - start, kShutdownBound);
    EXPECT_EQ(pending.out.load(), 1);
    EXPECT_FALSE(pending.outOnLoopThread.load());
    EXPECT_EQ(raw->State(), JobState::Cancelled);
    const size_t items = f.owner.items.size();
    f.loop.RunPending();  // calls queued before the queue went: none may deliver
    EXPECT_EQ(f.owner.items.size(), items);
    EXPECT_TRUE(f.owner.ended.empty());
}

TEST(JobQueue, ShutdownHookCancelsRunningAndPausedJobsAndCountsOut) {
    Fixture f;
    CVexelEngine engine(f.dispatcher);
    SystemHooks hooks;
    ASSERT_TRUE(RegisterSystemHooks(engine, hooks));
    PendingCount pending;
    // Like CApplication: the last component out queues the quit.
    pending.whenOut = [&] {
        f.dispatcher.PostToUIThread([&] {
            f.loop.Quit();
            return 0u;
        });
    };
    {
        CJobQueue queue(f.dispatcher, &engine, pending.Hooks(f.loop));
        auto a = f.MakeJob({"A", 1000, 2, true});
        auto b = f.MakeJob({"B", 1000, 4});
        f.owner.onMessage = [&](ScriptedJob& job, const JobMessage* message) {
            if (!message) return;
            if (job.Name() == "A" && message->code == JobMessageCode::ListingComplete &&
                message->index == 3) {
                EXPECT_TRUE(queue.Submit(b));
            }
            if (job.Name() == "B" && message->code == JobMessageCode::FileLoaded &&
                message->index == 2)
                engine.FireHook(hooks.application, EventCode(ApplicationEvent::Shutdown), 0);
        };
        ASSERT_TRUE(queue.Submit(a));
        const auto start = SteadyClock::now();
        EXPECT_TRUE(f.loop.Run());  // until the queue thread counted itself out
        EXPECT_LT(SteadyClock::now() - start, kShutdownBound);

        EXPECT_EQ(pending.out.load(), 1);
        EXPECT_EQ(a->State(), JobState::Cancelled);
        EXPECT_EQ(b->State(), JobState::Cancelled);
        EXPECT_EQ(a->Runs(), 2u);  // paused once, then returned at once cancelled
        EXPECT_FALSE(queue.Submit(f.MakeJob({"late", 1, 1})));
        EXPECT_TRUE(f.owner.finished.empty());
    }
    UnregisterSystemHooks(engine, hooks);
}

TEST(ImageLoadJob, EveryImageArrivesWithItsFirstFrameThenTheEnd) {
    Fixture f;
    CSimulatedMemoryLoad load{10};
    CMemoryServices services{load, test::QuietOptions()};
    auto paths = test::SmallCtSeries(12);
    paths.push_back(test::MultiFrameCt(6));
    auto job = std::make_shared<CDicomImageLoadJob>(f.tasks, services.Manager(), paths, 2);
    job->SetOwner(f.registry, f.ownerId);
    CJobQueue queue(f.dispatcher, nullptr);
    ASSERT_TRUE(queue.Submit(job));
    PumpUntil(f.loop, [&] { return f.owner.ended.size() == 1; });

    std::vector<JobMessageCode> expected(paths.size() + 2, JobMessageCode::ImageLoaded);
    expected.front() = JobMessageCode::ImageLoadStarted;
    expected.back() = JobMessageCode::ImageLoadFinished;
    EXPECT_EQ(f.owner.codes, expected);
    EXPECT_EQ(f.owner.ready.size(), paths.size());
    EXPECT_EQ(*f.owner.ready.begin(), 1u);
    EXPECT_EQ(*f.owner.ready.rbegin(), paths.size());
    // The multi-frame file is decoded whole by the time the job ends.
    auto [file, status] = services.Manager().Open(paths.back());
    const CDicomImage& image = *CDicomImage::Of(*file);
    for (size_t i = 0; i < image.FrameCount(); ++i)
        EXPECT_TRUE(image.Frame(i)->HasBuffer()) << i;
}

// Asks for every file's first frame and records what arrives, in order.
struct ScanOwner final : IJobOwner {
    std::vector<std::pair<JobMessageCode, const CDicomFile*>> seen;
    size_t prepared = 0;  // arrived with their first frame decoded
    bool ended = false;

    uint32_t OnJobMessage(CDicomJob&, const JobMessage* message) override {
        if (message == nullptr) {
            ended = true;
            return 0;
        }
        seen.emplace_back(message->code, message->file);
        const CDicomFrame* first = message->image ? message->image->Frame(0) : nullptr;
        if (message->code == JobMessageCode::FilePrepared && first && first->HasBuffer())
            ++prepared;
        return message->code == JobMessageCode::FileLoaded ? kDecodeFirstFrame : 0;
    }
};

// A prepared file is posted, not waited for: it arrives after its own question, before the
// scan's end, and keeps its file only until delivered. Posted messages that never run (the
// queue shut down, the job destroyed) leave no file referenced.
TEST(ScanJob, PreparedFilesArriveAfterTheirQuestionAndNeverOutliveTheJobsHold) {
    Fixture f;
    CSimulatedMemoryLoad load{10};
    CMemoryServices services{load, test::QuietOptions()};
    const auto paths = test::SmallCtSeries(6);
    const std::string folder = std::filesystem::path(paths[0]).parent_path().string();
    for (const bool deliver : {true, false}) {
        SCOPED_TRACE(deliver ? "delivered" : "shut down first");
        ScanOwner owner;
        const uint64_t ownerId = f.registry->Register(owner);
        auto job = std::make_shared<CDicomScanAndLoadJob>(f.tasks, services.Manager(), 3);
        job->AddFolder(folder);
        job->SetOwner(f.registry, ownerId);
        auto queue = std::make_unique<CJobQueue>(f.dispatcher, nullptr);
        ASSERT_TRUE(queue->Submit(job));
        const auto count = [&](JobMessageCode code) {
            return std::count_if(owner.seen.begin(), owner.seen.end(),
                                 [&](const auto& seen) { return seen.first == code; });
        };
        if (deliver) {
            PumpUntil(f.loop, [&] { return owner.ended; });
            EXPECT_EQ(owner.prepared, paths.size());
            EXPECT_EQ(owner.seen.back().first, JobMessageCode::ScanFinished);
            for (size_t i = 0; i < owner.seen.size(); ++i) {
                if (owner.seen[i].first != JobMessageCode::FilePrepared) continue;
                const auto asked = std::find(owner.seen.begin(), owner.seen.begin() + i,
                                             std::pair(JobMessageCode::FileLoaded,
                                                       owner.seen[i].second));
                EXPECT_NE(asked, owner.seen.begin() + i) << i;
            }
        } else {
            PumpUntil(f.loop, [&] { return count(JobMessageCode::FileLoaded) == 6; });
            queue.reset();
            job.reset();
            f.loop.RunPending();
            EXPECT_LT(count(JobMessageCode::FilePrepared), 6);
        }
        queue.reset();
        job.reset();
        f.loop.RunPending();
        EXPECT_EQ(services.Manager().UnusedCount(), services.Manager().RegisteredCount());
        f.registry->Unregister(ownerId);
    }
}

// Workers do not wait for answers: with three threads all six files are asked about before
// the loop has answered one, and the answers still bring every file prepared, then the end.
TEST(ScanJob, WorkersAskAboutEveryFileWithoutWaitingForAnAnswer) {
    Fixture f;
    CSimulatedMemoryLoad load{10};
    CMemoryServices services{load, test::QuietOptions()};
    const auto paths = test::SmallCtSeries(6);
    ScanOwner owner;
    const uint64_t ownerId = f.registry->Register(owner);
    auto job = std::make_shared<CDicomScanAndLoadJob>(f.tasks, services.Manager(), 3);
    job->AddFolder(std::filesystem::path(paths[0]).parent_path().string());
    job->SetOwner(f.registry, ownerId);
    CJobQueue queue(f.dispatcher, nullptr);
    ASSERT_TRUE(queue.Submit(job));
    // "Scan started" and "listing complete" come first; nothing else waits for an answer.
    ASSERT_TRUE(f.loop.WaitForPending(2 + paths.size()));
    f.loop.RunPending();
    EXPECT_EQ(
        std::count_if(owner.seen.begin(), owner.seen.end(),
                      [](const auto& seen) { return seen.first == JobMessageCode::FileLoaded; }),
        std::ptrdiff_t(paths.size()));
    PumpUntil(f.loop, [&] { return owner.ended; });
    EXPECT_EQ(owner.prepared, paths.size());
    EXPECT_EQ(owner.seen.back().first, JobMessageCode::ScanFinished);
    f.registry->Unregister(ownerId);
}

TEST(TaskManager, PercentIsDoneTimesHundredOverTotalRoundedDown) {
    const struct {
        uint32_t done, total;
        int32_t percent;
    } cases[] = {
        {0, 7, 0}, {2, 3, 66}, {4, 4, 100}, {5, 0, -1}, {4'000'000'000u, 4'000'000'000u, 100}};
    for (const auto& c : cases) {
        CTaskManager tasks;
        const int32_t id = tasks.AddTask(c.total, "Reading images...");
        tasks.SetTaskProgress(id, c.done, c.total);
        EXPECT_EQ(tasks.GetTaskPercent(id), c.percent) << c.done << "/" << c.total;
    }
}

uint32_t MaxThreadsToTry() {
    return std::max<uint32_t>(4, CThreadPool::LogicalProcessorCount());
}

TEST(ParallelThreadPool, EveryIndexOnceInAlignedChunksOfSixteen) {
    for (uint32_t count : {0u, 1u, 15u, 16u, 17u, 1000u}) {
        for (uint32_t threads = 1; threads <= MaxThreadsToTry(); ++threads) {
            SCOPED_TRACE(testing::Message() << count << " items, " << threads << " threads");
            CParallelThreadPool pool(threads);
            std::vector<std::atomic<int>> calls(count);
            std::mutex rangesMutex;
            std::vector<std::pair<uint32_t, uint32_t>> ranges;
            pool.ParallelFor(
                [&](uint32_t first, uint32_t last) {
                    std::lock_guard lock(rangesMutex);
                    ranges.emplace_back(first, last);
                    for (uint32_t i = first; i <= last && i < count; ++i)
                        ++calls[i];
                },
                count);
            for (uint32_t i = 0; i < count; ++i)
                ASSERT_EQ(calls[i].load(), 1) << "index " << i;
            EXPECT_EQ(ranges.size(), (count + 15) / 16);
            for (const auto& [first, last] : ranges)
                EXPECT_TRUE(first % 16 == 0 && last == std::min(first + 15, count - 1));
            EXPECT_EQ(pool.BusyCount(), 0);
        }
    }
}

TEST(ThreadPool, NeverMoreItemsInFlightThanThreadsAndHandedOutWorkRuns) {
    for (uint32_t threads = 1; threads <= MaxThreadsToTry(); ++threads) {
        std::atomic<int> running{0}, peak{0}, finished{0};
        auto owned = std::make_shared<int>(7);  // freed with the work: watched by the leak checker
        {
            CThreadPool pool(threads);
            for (int i = 0; i < 200; ++i) {
                ASSERT_TRUE(pool.Submit([&, owned] {
                    const int now = ++running;
                    for (int seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
                    }
                    std::this_thread::yield();
                    --running;
                    ++finished;
                }));
            }
            if (threads % 2) pool.WaitIdle();  // else the destructor runs what was handed out
        }
        EXPECT_EQ(finished.load(), 200) << threads << " threads";
        EXPECT_LE(peak.load(), static_cast<int>(threads)) << threads << " threads";
        EXPECT_EQ(owned.use_count(), 1);
    }
}

}  // namespace
}  // namespace vexel
