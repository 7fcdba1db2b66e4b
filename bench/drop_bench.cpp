// A folder of 500 CT slices dropped onto the main window: from the drop to the first image on
// screen and to the end of the scan, against `vexel scan` of the same folder (warm page
// cache, median of five runs each). Goal: the viewer adds under 100 ms to the scan.
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/viewer_app.h"
#include "app/workspace_panel.h"
#include "bench_corpus.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr int kRuns = 5;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Drop(vexel::CMainWindow& window, const fs::path& folder) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(folder.string()))});
    QDragEnterEvent enter({10, 10}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    vexel::bench::CorpusShape shape;
    shape.files = 500;
    std::string error;
    const std::vector<std::string> files =
        vexel::bench::EnsureCtCorpus(VEXEL_BENCH_DATA_DIR, shape, &error);
    if (files.empty()) {
        std::fprintf(stderr, "corpus: %s\n", error.c_str());
        return 1;
    }
    const fs::path folder = vexel::bench::CorpusFolder(VEXEL_BENCH_DATA_DIR, shape);
    vexel::bench::WarmPageCache(files);
    const std::string vexel = (fs::path(argv[0]).parent_path() / "vexel").string();
    const std::string scan = "'" + vexel + "' scan '" + folder.string() + "' > /dev/null";
    std::vector<double> scans;
    for (int run = 0; run < kRuns; ++run) {
        const Clock::time_point start = Clock::now();
        if (std::system(scan.c_str()) != 0) return 1;
        scans.push_back(Ms(Clock::now() - start));
    }

    QApplication application(argc, argv);
    vexel::ViewerAppOptions options;
    const fs::path user = fs::temp_directory_path() / "vexel-drop-bench";
    options.folders = vexel::UserBaseFolders{user / "data", user / "config", user / "cache"};
    std::vector<double> firstImages, scanEnds;
    vexel::CViewerApp* running = nullptr;
    QTimer poll;
    Clock::time_point dropped;
    bool shown = false;
    options.onShown = [&] {
        QObject::connect(&poll, &QTimer::timeout, [&] {
            vexel::CMainWindow& window = *running->MainWindow();
            if (window.Loading() && !shown) {
                const vexel::CWorkspacePanel* panel = window.ActivePanel();
                if (panel != nullptr && panel->Viewport().RenderedImage()) {
                    firstImages.push_back(Ms(Clock::now() - dropped));
                    shown = true;
                }
                return;
            }
            if (window.Loading()) return;
            if (!firstImages.empty() || shown) scanEnds.push_back(Ms(Clock::now() - dropped));
            if (scanEnds.size() == size_t(kRuns)) {
                poll.stop();
                running->RequestQuit();
                return;
            }
            // Each drop without Shift closes what the last one opened.
            shown = false;
            dropped = Clock::now();
            Drop(window, folder);
        });
        poll.start(0);
    };
    vexel::CViewerApp app(options);
    running = &app;
    char name[] = "vexel-viewer";
    char* arguments[] = {name, nullptr};
    app.Run(1, arguments);
    if (firstImages.size() < size_t(kRuns) || scanEnds.size() < size_t(kRuns)) return 1;
    const double scanMs = Median(scans);
    std::printf("vexel scan of %d files: %.1f ms\n", shape.files, scanMs);
    std::printf("viewer, drop to first image on screen: %.1f ms\n", Median(firstImages));
    std::printf("viewer, drop to end of scan: %.1f ms (adds %+.1f ms)\n", Median(scanEnds),
                Median(scanEnds) - scanMs);
    return 0;
}
