// JPEG export of a 500-image 512 x 512 CT series at one pixel per image pixel, in images per
// second, side by side with DCMTK's dcmj2pnm +oj (one process per file, as a script would run
// it) and with cjpeg on PPMs rendered beforehand (compression alone, one process per file,
// two at a time like the export's two threads here). Goals: at least 3x dcmj2pnm, within
// 1.5x of cjpeg although the export also renders. Also the peak resident memory of a
// 2,000-image export (goal under 300 MB). Warm page cache; one run each.
#include <sys/resource.h>

#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "engine/memory_services.h"
#include "engine/thread_pool.h"
#include "imaging/jpeg_engine.h"
#include "output/export_run.h"
#include "platform/memory_load.h"
#include "viewer/series_state_store.h"
#include "viewer/window_preset.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// A shell loop over the files, `parallel` processes at a time.
double TimeCommandPerFile(const std::vector<std::string>& inputs, const std::string& command,
                          int parallel) {
    const fs::path list = fs::temp_directory_path() / "vexel-export-bench-list";
    std::FILE* out = std::fopen(list.c_str(), "w");
    for (const std::string& input : inputs) std::fprintf(out, "%s\n", input.c_str());
    std::fclose(out);
    const std::string shell = "xargs -P " + std::to_string(parallel) + " -I{} sh -c '" +
                              command + "' < " + list.string();
    const auto start = Clock::now();
    if (std::system(shell.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", shell.c_str());
    return Seconds(Clock::now() - start);
}

double Export(vexel::ExportServices services, const std::vector<std::string>& files,
              const fs::path& out) {
    std::vector<vexel::ExportItem> items;
    for (size_t i = 0; i < files.size(); ++i) {
        vexel::ExportItem& item = items.emplace_back();
        item.sourcePath = files[i];
        item.outputPath = out / ("IMG-" + std::to_string(i) + ".jpg");
        item.annotations = vexel::AnnotationMode::None;
        item.place = i;
        item.total = files.size();
    }
    vexel::CExportRun run(1, services, std::move(items), {}, {});
    const auto start = Clock::now();
    run.Start();
    run.Wait();
    return Seconds(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication application(argc, argv);
    std::string error;
    const fs::path data = VEXEL_BENCH_DATA_DIR;
    const auto files = vexel::bench::EnsureCtCorpus(data, {500, 512, 512, false}, &error);
    if (files.empty()) {
        std::fprintf(stderr, "corpus: %s\n", error.c_str());
        return 1;
    }
    vexel::bench::WarmPageCache(files);
    const fs::path scratch = fs::temp_directory_path() / "vexel-export-bench";
    fs::remove_all(scratch);
    for (const char* folder : {"vexel", "dcmtk", "ppm", "cjpeg"}) fs::create_directories(scratch / folder);

    vexel::CSystemMemoryLoad load;
    vexel::CMemoryServices memory(load);
    vexel::CJPEGEngine jpeg;
    vexel::CWindowPresetTable presets;
    vexel::ExportServices services;
    services.files = &memory.Manager();
    services.jpeg = &jpeg;
    services.presets = &presets;
    const double ours = Export(services, files, scratch / "vexel");

    const double dcmtk = TimeCommandPerFile(
        files, "dcmj2pnm +oj +Jq 100 {} " + (scratch / "dcmtk").string() + "/$(basename {}).jpg", 1);
    // The PPMs are made first (not timed): cjpeg measures compression alone.
    TimeCommandPerFile(files, "dcm2pnm +op {} " + (scratch / "ppm").string() + "/$(basename {}).ppm", 2);
    std::vector<std::string> ppms = vexel::bench::ListFolder(scratch / "ppm");
    const double cjpeg = TimeCommandPerFile(
        ppms, "cjpeg -quality 100 {} > " + (scratch / "cjpeg").string() + "/$(basename {}).jpg", 2);

    const double n = double(files.size());
    std::printf("JPEG export of %zu 512x512 CT images at 1:1\n", files.size());
    std::printf("  vexel export (%u threads): %7.1f images/s\n",
                unsigned(vexel::CThreadPool::LogicalProcessorCount()), n / ours);
    std::printf("  dcmj2pnm +oj, one process per file: %7.1f images/s (vexel %.1fx)\n", n / dcmtk,
                dcmtk / ours);
    std::printf("  cjpeg on rendered PPMs, 2 at a time: %7.1f images/s (vexel takes %.2fx its time)\n",
                n / cjpeg, ours / cjpeg);

    // 2,000 images: the 500 four times over, each under its own name.
    std::vector<std::string> many;
    for (int i = 0; i < 4; ++i) many.insert(many.end(), files.begin(), files.end());
    fs::remove_all(scratch / "vexel");
    fs::create_directories(scratch / "vexel");
    const double manySeconds = Export(services, many, scratch / "vexel");
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("  2,000 images: %.1f images/s, peak resident %.0f MB\n",
                double(many.size()) / manySeconds, double(usage.ru_maxrss) / 1024.0);
    fs::remove_all(scratch);
    return 0;
}
