// The viewer opening a folder of 200 series (three 128 x 128 CT slices each): from the start
// of the scan to the first image on screen and to the last thumbnail drawn, against
// `vexel scan` of the same folder. Goals: thumbnails add under 20 % to the scan, and the
// first image is on screen within 150 ms of the scan's start. One run per case: the folder
// is in the page cache after the first.
#include <QApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>

#include "app/dicom_thumb_box.h"
#include "app/main_window.h"
#include "app/viewer_app.h"
#include "app/workspace_panel.h"
#include "phantom/phantom_writer.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr int kSeries = 200;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

fs::path Corpus() {
    const fs::path root = fs::path(VEXEL_BENCH_DATA_DIR) / "series-200";
    if (fs::exists(root / "complete")) return root;
    fs::remove_all(root);
    for (int i = 0; i < kSeries; ++i) {
        vexel::phantom::PhantomOptions options;
        options.columns = options.rows = 128;
        options.slices = 3;
        options.uidRoot = "2.25.4242" + std::to_string(i);
        std::string error;
        if (!vexel::phantom::WriteCtSeries(root / ("s" + std::to_string(i)), options, &error)) {
            std::fprintf(stderr, "corpus: %s\n", error.c_str());
            std::exit(1);
        }
    }
    std::FILE* done = std::fopen((root / "complete").c_str(), "w");
    if (done != nullptr) std::fclose(done);
    return root;
}

size_t Thumbnails(vexel::CDicomThumbBox& box) {
    size_t count = 0;
    for (int row = 0; row < box.Count(); ++row)
        count += box.SeriesAt(row) != 0 && box.Entry(row).thumbnail.has_value();
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const fs::path folder = Corpus();
    const std::string vexel = (fs::path(argv[0]).parent_path() / "vexel").string();
    const std::string scanCommand = "'" + vexel + "' scan '" + folder.string() + "' > /dev/null";
    // Warm the page cache, then time the command.
    if (std::system(scanCommand.c_str()) != 0) return 1;
    const Clock::time_point scanStart = Clock::now();
    if (std::system(scanCommand.c_str()) != 0) return 1;
    const double scanMs = Ms(Clock::now() - scanStart);

    QApplication application(argc, argv);
    vexel::ViewerAppOptions options;
    const fs::path user = fs::temp_directory_path() / "vexel-viewer-scan-bench";
    options.folders = vexel::UserBaseFolders{user / "data", user / "config", user / "cache"};
    double firstImageMs = -1, lastThumbnailMs = -1;
    vexel::CViewerApp* running = nullptr;
    Clock::time_point start;
    rusage usageStart{}, usageEnd{};
    QTimer poll;
    options.onShown = [&] {
        // The scan started just before the window was reported shown.
        start = Clock::now();
        getrusage(RUSAGE_SELF, &usageStart);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            vexel::CMainWindow& window = *running->MainWindow();
            vexel::CWorkspacePanel* panel = window.ActivePanel();
            if (firstImageMs < 0 && panel != nullptr && panel->Viewport().RenderedImage())
                firstImageMs = Ms(Clock::now() - start);
            if (!window.Scans().Scanning() && Thumbnails(window.Thumbnails()) == size_t(kSeries)) {
                lastThumbnailMs = Ms(Clock::now() - start);
                getrusage(RUSAGE_SELF, &usageEnd);
                poll.stop();
                running->RequestQuit();
            }
        });
        poll.start(1);
    };
    vexel::CViewerApp app(options);
    running = &app;
    char name[] = "vexel-viewer";
    std::string path = folder.string();
    char* arguments[] = {name, path.data(), nullptr};
    app.Run(2, arguments);
    std::printf("vexel scan of %d series: %.1f ms\n", kSeries, scanMs);
    std::printf("viewer, scan start to last thumbnail: %.1f ms (%+.1f %%)\n", lastThumbnailMs,
                (lastThumbnailMs / scanMs - 1) * 100);
    std::printf("viewer, scan start to first image on screen: %.1f ms\n", firstImageMs);
    const auto cpuMs = [](const rusage& u) {
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
               double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
    };
    std::printf("viewer, processor time from scan start to last thumbnail: %.1f ms\n",
                cpuMs(usageEnd) - cpuMs(usageStart));
    return lastThumbnailMs < 0 ? 1 : 0;
}
