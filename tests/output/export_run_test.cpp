// Export runs in process: failures are counted and leave only whole files, a stopped run of
// 2,000 items ends promptly, and the export window goes from idle to exporting and back
// (done, cancelled, cancelled and started again at once) without leaving a task behind.
// Eight export threads draw texts at once here, which the thread sanitizer build checks.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "common/test_paths.h"
#include "engine/headless_scan.h"
#include "engine/memory_services.h"
#include "engine/study_model.h"
#include "engine/task_manager.h"
#include "imaging/dicom_image.h"
#include "imaging/jpeg_engine.h"
#include "output/export_run.h"
#include "output/export_wnd.h"
#include "phantom/phantom_writer.h"
#include "platform/memory_load.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_2d.h"
#include "viewer/window_preset.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::vector<std::string> CtFiles() {
    static const std::vector<std::string> files = [] {
        const fs::path dir = test::ScratchDir("export-run-study");
        phantom::PhantomOptions options;
        options.columns = options.rows = 64;
        options.slices = 5;
        std::string error;
        EXPECT_TRUE(phantom::WriteCtSeries(dir / "CT", options, &error)) << error;
        std::vector<std::string> paths;
        for (const auto& entry : fs::directory_iterator(dir / "CT"))
            paths.push_back(entry.path());
        std::sort(paths.begin(), paths.end());
        return paths;
    }();
    return files;
}

struct Services {
    CSystemMemoryLoad load;
    CMemoryServices memory{load};
    CJPEGEngine jpeg{test::BinaryDir() / "bin"};
    CWindowPresetTable presets;
    CSeriesStateStore states;

    ExportServices For(uint32_t threads) {
        ExportServices services;
        services.files = &memory.Manager();
        services.jpeg = &jpeg;
        services.presets = &presets;
        services.sharedStates = &states;
        services.threads = threads;
        return services;
    }
};

// Everything a run reported, in order.
struct Reports {
    std::mutex mutex;
    std::vector<ExportProgress> progress;
    std::vector<std::string> failed;
    ExportCallbacks Callbacks() {
        ExportCallbacks callbacks;
        callbacks.onProgress = [this](const ExportProgress& p) {
            std::lock_guard lock(mutex);
            progress.push_back(p);
        };
        callbacks.onFailed = [this](const std::string& what, const std::string&) {
            std::lock_guard lock(mutex);
            failed.push_back(what);
        };
        return callbacks;
    }
};

std::vector<ExportItem> Items(size_t count, const fs::path& folder, ExportFormat format) {
    std::vector<ExportItem> items;
    const auto files = CtFiles();
    for (size_t i = 0; i < count; ++i) {
        ExportItem& item = items.emplace_back();
        item.format = format;
        item.sourcePath = files[i % files.size()];
        item.outputPath =
            folder / ("item" + std::to_string(i) + (format == ExportFormat::Bmp ? ".bmp" : ".jpg"));
        item.place = i;
        item.total = count;
    }
    return items;
}

std::vector<std::string> Listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ExportRun, FailuresAreCountedAndOnlyWholeFilesStay) {
    Services s;
    const fs::path out = test::ScratchDir("export-run-failures");
    auto items = Items(10, out, ExportFormat::Jpeg);
    // From the fifth item on, the writer cannot create its file.
    for (size_t i = 4; i < items.size(); ++i)
        items[i].outputPath = out / "missing" / "x.jpg";
    Reports reports;
    CExportRun run(7, s.For(8), std::move(items), {}, reports.Callbacks());
    ASSERT_TRUE(run.Start());
    run.Wait();
    ASSERT_FALSE(reports.progress.empty());
    const ExportProgress& last = reports.progress.back();
    EXPECT_TRUE(last.finished);
    EXPECT_EQ(last.run, 7u);
    EXPECT_EQ(last.done, 10u);
    EXPECT_EQ(last.failed, 6u);
    EXPECT_EQ(reports.failed.size(), 6u);
    EXPECT_EQ(Listing(out),
              (std::vector<std::string>{"item0.jpg", "item1.jpg", "item2.jpg", "item3.jpg"}));
    for (const std::string& name : Listing(out)) {
        int code = -1;
        test::RunCommand("djpeg " + test::Quote(out / name) + " > /dev/null 2>&1", &code);
        EXPECT_EQ(code, 0) << name;
    }
}

TEST(ExportRun, AStoppedRunOfTwoThousandItemsEndsPromptlyAndLeavesNoPart) {
    Services s;
    const fs::path out = test::ScratchDir("export-run-stop");
    Reports reports;
    auto run = std::make_unique<CExportRun>(1, s.For(0), Items(2000, out, ExportFormat::Bmp),
                                            std::vector<ExportMovie>{}, reports.Callbacks());
    ASSERT_TRUE(run->Start());
    while (true) {
        std::lock_guard lock(reports.mutex);
        if (reports.progress.size() >= 20) break;
    }
    const auto start = Clock::now();
    run.reset();  // stops and waits
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    const ExportProgress& last = reports.progress.back();
    EXPECT_TRUE(last.finished && last.stopped);
    EXPECT_LT(last.done, 2000u);
    EXPECT_EQ(Listing(out).size(), last.done - last.failed);
    for (const std::string& name : Listing(out))
        EXPECT_EQ(name.find(".part"), std::string::npos);
}

// The window over an off-screen viewport that shows the CT series, as a panel would.
struct WindowFixture {
    Services s;
    StudyModel model;
    CTaskManager tasks;
    CSeriesStateStore viewStates;
    std::unique_ptr<CViewport2D> viewport;
    SeriesId series = 0;
    std::unique_ptr<CExportWnd> window;

    explicit WindowFixture(const fs::path& out) {
        HeadlessScanRequest request;
        request.folders.push_back(fs::path(CtFiles().front()).parent_path());
        RunHeadlessScan(s.memory.Manager(), model, request);
        series = model.Snapshot().at(0).studies.at(0).series.at(0).id;
        ViewportServices services;
        services.states = &viewStates;
        services.presets = &s.presets;
        viewport = std::make_unique<CViewport2D>(services);
        viewport->CreateOffscreen(200, 150, ViewGeometry{});
        for (const std::string& path : model.GetSeriesFiles(series)) {
            auto [file, status] = s.memory.Manager().Open(path);
            CDicomImage* image = file ? CDicomImage::Of(*file) : nullptr;
            if (image != nullptr) viewport->AddImage(std::move(file), *image, 0);
        }
        ExportWindowContext context;
        context.files = &s.memory.Manager();
        context.jpeg = &s.jpeg;
        context.presets = &s.presets;
        context.states = &viewStates;
        context.model = &model;
        context.tasks = &tasks;
        context.texts = [](uint32_t id) { return std::to_string(id); };
        context.activeSource = [this] { return ExportSource{series, viewport.get()}; };
        window = std::make_unique<CExportWnd>(std::move(context), true, nullptr);
        window->FolderField()->setText(QString::fromStdString(out.string()));
    }

    void Export(ExportScope scope) {
        window->SelectScope(scope);
        window->SetFolderConfirmed(true);
        window->StartExport();
    }
    // Until the run's last report was taken.
    bool WaitForEnd() {
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (window->Exporting() || window->ExportButton()->isEnabled() == false) {
            if (Clock::now() > deadline) return false;
            QApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
};

TEST(ExportWindow, ExportsCancelsAndStartsAgainWithoutAStuckTask) {
    const fs::path out = test::ScratchDir("export-window");
    WindowFixture f(out);
    ASSERT_TRUE(f.window->Open());
    EXPECT_EQ(f.window->windowTitle(), "3001");
    f.Export(ExportScope::CurrentImage);
    EXPECT_FALSE(f.window->ExportButton()->isEnabled());
    EXPECT_EQ(f.window->CloseButton()->text(), "3");
    ASSERT_TRUE(f.WaitForEnd());
    EXPECT_EQ(f.window->windowTitle(), "3002");
    EXPECT_FALSE(f.window->isVisible());
    EXPECT_EQ(f.tasks.ActiveCount(), 0u);
    EXPECT_EQ(Listing(out), std::vector<std::string>{"IMG-0001-00001.jpg"});

    // Cancel, then Export at once: ignored while the stopped run ends; then it runs again.
    ASSERT_TRUE(f.window->Open());
    f.Export(ExportScope::CurrentSeries);
    f.window->reject();
    f.Export(ExportScope::CurrentSeries);
    ASSERT_TRUE(f.WaitForEnd());
    EXPECT_EQ(f.tasks.ActiveCount(), 0u);
    f.Export(ExportScope::CurrentSeries);
    EXPECT_EQ(f.tasks.ActiveCount(), 1u);
    ASSERT_TRUE(f.WaitForEnd());
    EXPECT_EQ(f.tasks.ActiveCount(), 0u);
    EXPECT_EQ(f.window->LastFailed(), 0u);
    EXPECT_EQ(f.window->LastTotal(), 5u);
}

}  // namespace
}  // namespace vexel
