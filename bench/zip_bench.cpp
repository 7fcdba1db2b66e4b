// Extraction through the ZIP module against Info-ZIP: a deflated archive of 1,000 phantom CT
// slices (256 x 256, about 130 KiB each) read entry by entry in 64 KiB blocks and written to
// /dev/null, against `unzip -p ARCHIVE > /dev/null`. The archive is made once with `zip -q`
// (default level) under bench-data and reused; the page cache is warm for both.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "engine/headless_scan.h"
#include "engine/memory_services.h"
#include "engine/study_model.h"
#include "engine/zip_engine.h"
#include "imaging/binary_value_cacher.h"
#include "platform/memory_load.h"

namespace {

namespace fs = std::filesystem;

// The corpus's archive, made when missing; empty on failure.
const fs::path& Archive() {
    static const fs::path archive = [] {
        std::string error;
        const vexel::bench::CorpusShape shape;
        const auto files = vexel::bench::EnsureCtCorpus(VEXEL_BENCH_DATA_DIR, shape, &error);
        if (files.empty()) {
            std::fprintf(stderr, "zip_bench: %s\n", error.c_str());
            return fs::path();
        }
        const fs::path folder = vexel::bench::CorpusFolder(VEXEL_BENCH_DATA_DIR, shape);
        const fs::path zip = folder.string() + ".zip";
        if (!fs::exists(zip)) {
            const std::string command = "cd '" + folder.string() + "' && zip -q -r '" +
                                        zip.string() + ".part' . && mv '" + zip.string() +
                                        ".part' '" + zip.string() + "'";
            if (std::system(command.c_str()) != 0) return fs::path();
        }
        return zip;
    }();
    return archive;
}

void BM_ModuleToDevNull(benchmark::State& state) {
    if (Archive().empty()) return state.SkipWithError("no archive");
    vexel::CZIPEngine engine;
    if (!engine.EnsureLoaded()) return state.SkipWithError("libvexel-zip.so not found");
    const int sink = open("/dev/null", O_WRONLY);
    uint64_t bytes = 0, entries = 0;
    for (auto _ : state) {
        vexel::CZipArchive archive = engine.OpenArchive(Archive().string());
        uint64_t count = 0;
        if (!archive || !archive.EntryCount(count)) return state.SkipWithError("unreadable");
        for (uint64_t i = 0; i < count; ++i) {
            vexel::CZipEntryReader reader;
            if (archive.OpenEntry(reader) == VEXEL_ZIP_OK) {
                const bool whole = reader.ReadAll([&](const uint8_t* data, size_t size) {
                    bytes += size;
                    return write(sink, data, size) == ssize_t(size);
                });
                if (!whole) return state.SkipWithError("read error");
                ++entries;
            }
            archive.Next();
        }
    }
    close(sink);
    state.SetBytesProcessed(int64_t(bytes));
    state.counters["entries"] = benchmark::Counter(double(entries), benchmark::Counter::kIsRate);
}

void BM_UnzipToDevNull(benchmark::State& state) {
    if (Archive().empty()) return state.SkipWithError("no archive");
    const std::string command = "unzip -p '" + Archive().string() + "' > /dev/null";
    const uint64_t size = uint64_t(fs::file_size(Archive()));
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) return state.SkipWithError("unzip failed");
    }
    state.counters["archive_MiB"] = double(size) / (1 << 20);
}

// The whole load of the archive as the viewer does it (unpacked into the disk cache, every
// file parsed and filed), against `unzip -q` to the same disk and a scan of the folder.
struct ScanRig {
    vexel::CSystemMemoryLoad load;
    vexel::CMemoryServices services{load};
};

void ReportScan(benchmark::State& state, const std::vector<double>& firstSeries) {
    double sum = 0;
    for (double ms : firstSeries) sum += ms;
    state.counters["first_series_ms"] = firstSeries.empty() ? -1 : sum / double(firstSeries.size());
}

void BM_ArchiveScan(benchmark::State& state) {
    if (Archive().empty()) return state.SkipWithError("no archive");
    std::vector<double> firstSeries;
    for (auto _ : state) {
        const fs::path cacheRoot = Archive().parent_path() / "zip-scan-cache";
        ScanRig rig;
        vexel::CZIPEngine zip;
        vexel::CBinaryValueCacher cache(cacheRoot);
        vexel::StudyModel model;
        vexel::HeadlessScanRequest request;
        request.archive = Archive().string();
        request.zip = &zip;
        request.cache = &cache;
        const vexel::HeadlessScanSummary summary =
            vexel::RunHeadlessScan(rig.services.Manager(), model, request);
        if (summary.loaded != 1000) return state.SkipWithError("not every file loaded");
        firstSeries.push_back(double(summary.firstSeriesAfter.count()));
        state.PauseTiming();
        model.Clear();
        rig.services.Manager().ReleaseMemoryNow();
        state.ResumeTiming();
    }
    ReportScan(state, firstSeries);
}

void BM_UnzipThenScan(benchmark::State& state) {
    if (Archive().empty()) return state.SkipWithError("no archive");
    const fs::path folder = Archive().parent_path() / "zip-scan-unzipped";
    std::vector<double> firstSeries;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(folder);
        state.ResumeTiming();
        const std::string unzip = "unzip -q '" + Archive().string() + "' -d '" + folder.string() + "'";
        if (std::system(unzip.c_str()) != 0) return state.SkipWithError("unzip failed");
        ScanRig rig;
        vexel::StudyModel model;
        vexel::HeadlessScanRequest request;
        request.folders = {folder.string()};
        const vexel::HeadlessScanSummary summary =
            vexel::RunHeadlessScan(rig.services.Manager(), model, request);
        if (summary.loaded != 1000) return state.SkipWithError("not every file loaded");
        firstSeries.push_back(double(summary.firstSeriesAfter.count()));
    }
    fs::remove_all(folder);
    ReportScan(state, firstSeries);
}

}  // namespace

BENCHMARK(BM_ArchiveScan)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_UnzipThenScan)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ModuleToDevNull)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_UnzipToDevNull)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK_MAIN();
