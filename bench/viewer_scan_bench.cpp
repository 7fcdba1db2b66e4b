// The viewer opening a folder of 200 series (three 128 x 128 CT slices each): from the start
// of the scan to the first image on screen and to the last thumbnail drawn, against
// `vexel scan` of the same folder. Goals: thumbnails add under 20 % to the scan, and the
// first image is on screen within 150 ms of the scan's start. The folder is in the page
// cache before anything is timed; the viewer runs in a child process of its own each time,
// alternating with the command.
#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <vector>

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

// One viewer run in this process: scan start to the first image and to the last thumbnail,
// the processor time of the process and of the interface thread in between, printed on one
// line for the parent.
int TimeViewerOnce(int argc, char** argv, const fs::path& folder) {
    QApplication application(argc, argv);
    vexel::ViewerAppOptions options;
    const fs::path user = fs::temp_directory_path() / "vexel-viewer-scan-bench";
    options.folders = vexel::UserBaseFolders{user / "data", user / "config", user / "cache"};
    double firstImageMs = -1, lastThumbnailMs = -1;
    vexel::CViewerApp* running = nullptr;
    Clock::time_point start;
    rusage usageStart{}, usageEnd{};
    timespec uiStart{}, uiEnd{};
    QTimer poll;
    options.onShown = [&] {
        // The scan started just before the window was reported shown.
        start = Clock::now();
        getrusage(RUSAGE_SELF, &usageStart);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &uiStart);  // this is the interface thread
        QObject::connect(&poll, &QTimer::timeout, [&] {
            vexel::CMainWindow& window = *running->MainWindow();
            vexel::CWorkspacePanel* panel = window.ActivePanel();
            if (firstImageMs < 0 && panel != nullptr && panel->Viewport().RenderedImage())
                firstImageMs = Ms(Clock::now() - start);
            if (!window.Scans().Scanning() && Thumbnails(window.Thumbnails()) == size_t(kSeries)) {
                lastThumbnailMs = Ms(Clock::now() - start);
                getrusage(RUSAGE_SELF, &usageEnd);
                clock_gettime(CLOCK_THREAD_CPUTIME_ID, &uiEnd);
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
    const auto cpuMs = [](const rusage& u) {
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
               double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
    };
    std::printf("%.3f %.3f %.3f %.3f\n", lastThumbnailMs, firstImageMs,
                cpuMs(usageEnd) - cpuMs(usageStart),
                double(uiEnd.tv_sec - uiStart.tv_sec) * 1e3 +
                    double(uiEnd.tv_nsec - uiStart.tv_nsec) / 1e6);
    return lastThumbnailMs < 0 ? 1 : 0;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const fs::path folder = Corpus();
    if (argc > 1 && std::string(argv[1]) == "--viewer-once") return TimeViewerOnce(1, argv, folder);
    const std::string self = fs::absolute(argv[0]).string();
    const std::string vexel = (fs::path(self).parent_path() / "vexel").string();
    const std::string scanCommand = "'" + vexel + "' scan '" + folder.string() + "' > /dev/null";
    // Both sides are the median of five runs, each in a process of its own: one run of a
    // program that starts in a few tens of milliseconds varies by a fifth on a shared machine.
    // The first command also brings the folder into the page cache.
    if (std::system(scanCommand.c_str()) != 0) return 1;
    constexpr int kRuns = 5;
    std::vector<double> scans, viewer[4];
    for (int run = 0; run < kRuns; ++run) {
        const Clock::time_point scanStart = Clock::now();
        if (std::system(scanCommand.c_str()) != 0) return 1;
        scans.push_back(Ms(Clock::now() - scanStart));
        std::FILE* child = popen(("'" + self + "' --viewer-once 2>/dev/null").c_str(), "r");
        double values[4] = {-1, -1, -1, -1};
        const bool read = child != nullptr && std::fscanf(child, "%lf %lf %lf %lf", &values[0],
                                                          &values[1], &values[2], &values[3]) == 4;
        if (child == nullptr || pclose(child) != 0 || !read) return 1;
        for (int i = 0; i < 4; ++i)
            viewer[i].push_back(values[i]);
    }
    const double scanMs = Median(scans), lastThumbnailMs = Median(viewer[0]);
    std::printf("vexel scan of %d series: %.1f ms (median of %d: %.1f to %.1f)\n", kSeries, scanMs,
                kRuns, *std::min_element(scans.begin(), scans.end()),
                *std::max_element(scans.begin(), scans.end()));
    std::printf(
        "viewer, scan start to last thumbnail: %.1f ms (median of %d: %.1f to %.1f; "
        "%+.1f %%)\n",
        lastThumbnailMs, kRuns, *std::min_element(viewer[0].begin(), viewer[0].end()),
        *std::max_element(viewer[0].begin(), viewer[0].end()),
        (lastThumbnailMs / scanMs - 1) * 100);
    std::printf("viewer, scan start to first image on screen: %.1f ms (median)\n",
                Median(viewer[1]));
    std::printf("viewer, processor time from scan start to last thumbnail: %.1f ms (median)\n",
                Median(viewer[2]));
    std::printf("viewer, interface thread busy in that time: %.1f ms (median)\n",
                Median(viewer[3]));
    return 0;
}
