// Deferred header parse of a folder of phantom CT slices: files per second with a warm and a
// cold page cache, and heap bytes per parsed file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bench_corpus.h"
#include "dicom/dicom_dictionary.h"
#include "dicom/dicom_reader.h"
#include "heap_meter.h"

namespace {

using vexel::bench::HeapBreakdown;

#ifndef VEXEL_BENCH_DATA_DIR
#define VEXEL_BENCH_DATA_DIR "bench-data"
#endif

std::vector<std::string> g_files;

// Only deferred parses run in this process: a full parse would add every tag it loads to the
// dictionary's preload set, and later deferred parses would then load those values too.
bool ParseDeferred(vexel::CDicomFile& file, const std::string& path) {
    file.SetDeferredValues(true);
    return vexel::ReadDicomFile(file, path) == vexel::ReadStatus::Ok;
}

bool ParseCorpus(benchmark::State& state) {
    for (const std::string& path : g_files) {
        vexel::CDicomFile file;
        if (!ParseDeferred(file, path)) {
            state.SkipWithError(("cannot parse " + path).c_str());
            return false;
        }
    }
    return true;
}

void SetFileRate(benchmark::State& state) {
    const auto count = static_cast<int64_t>(g_files.size());
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["files/s"] = benchmark::Counter(static_cast<double>(count),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}

// Every file's pages are cached before the first iteration.
void BM_DeferredParseWarm(benchmark::State& state) {
    vexel::bench::WarmPageCache(g_files);
    for (auto _ : state) {
        if (!ParseCorpus(state)) break;
    }
    SetFileRate(state);
}

// Each iteration starts after the corpus's pages were dropped from the page cache.
// "resident" reports how much of the corpus was still cached when the clock started.
void BM_DeferredParseCold(benchmark::State& state) {
    double residentSum = 0;
    for (auto _ : state) {
        state.PauseTiming();
        vexel::bench::DropFromPageCache(g_files);
        residentSum += vexel::bench::ResidentFraction(g_files);
        state.ResumeTiming();
        if (!ParseCorpus(state)) break;
    }
    SetFileRate(state);
    state.counters["resident"] = residentSum / static_cast<double>(state.iterations());
}

// Heap taken by empty file objects: the object, its root element and its lookup table.
double FixedBytesPerFile(size_t count) {
    std::vector<std::unique_ptr<vexel::CDicomFile>> files;
    files.reserve(count);
    const size_t before = vexel::bench::HeapInUse();
    for (size_t i = 0; i < count; ++i)
        files.push_back(std::make_unique<vexel::CDicomFile>());
    return static_cast<double>(vexel::bench::HeapInUse() - before) / static_cast<double>(count);
}

benchmark::Counter Bytes(double value) {
    return benchmark::Counter(value, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
}

void SetHeapCounters(benchmark::State& state, double perFile, double fixed,
                     const HeapBreakdown& parts) {
    const auto n = static_cast<double>(g_files.size());
    const double elementBytes = static_cast<double>(parts.elementBytes) / n;
    const double valueBytes = static_cast<double>(parts.valueBytes) / n;
    state.counters["bytes/file"] = Bytes(perFile);
    state.counters["fixed"] = Bytes(fixed);
    state.counters["elements"] = static_cast<double>(parts.elements) / n;
    state.counters["element_bytes"] = Bytes(elementBytes);
    state.counters["values"] = static_cast<double>(parts.values) / n;
    state.counters["value_payload"] = Bytes(static_cast<double>(parts.valuePayload) / n);
    state.counters["value_bytes"] = Bytes(valueBytes);
    // Path, character sets and anything the breakdown does not know of.
    state.counters["other"] = Bytes(perFile - fixed - elementBytes - valueBytes);
}

// All files stay parsed at once; the heap they hold, divided by their number.
void BM_DeferredHeapPerFile(benchmark::State& state) {
    for (auto _ : state) {
        const double fixed = FixedBytesPerFile(g_files.size());
        std::vector<std::unique_ptr<vexel::CDicomFile>> files;
        files.reserve(g_files.size());
        const size_t before = vexel::bench::HeapInUse();
        for (const std::string& path : g_files) {
            files.push_back(std::make_unique<vexel::CDicomFile>());
            if (!ParseDeferred(*files.back(), path)) {
                state.SkipWithError(("cannot parse " + path).c_str());
                return;
            }
        }
        const size_t after = vexel::bench::HeapInUse();
        HeapBreakdown parts;
        for (const auto& file : files)
            vexel::bench::AccountFile(*file, parts);
        const double perFile =
            static_cast<double>(after - before) / static_cast<double>(g_files.size());
        SetHeapCounters(state, perFile, fixed, parts);
    }
}

BENCHMARK(BM_DeferredParseWarm)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeferredParseCold)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeferredHeapPerFile)->Unit(benchmark::kMillisecond)->Iterations(1);

struct Options {
    std::string dataDir = VEXEL_BENCH_DATA_DIR;
    int files = 0;         // 0: 1,000 phantom slices, 140 with --scanner
    bool scanner = false;  // 512 x 512 slices with a scanner's headers (about 270 elements)
    std::string corpus;    // a folder of files to parse instead of a phantom series
};

// Takes our own flags out of argv before Google Benchmark sees the rest.
Options TakeOptions(int& argc, char** argv) {
    Options options;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--data-dir=")) {
            options.dataDir = std::string(arg.substr(11));
        } else if (arg.starts_with("--files=")) {
            options.files = std::atoi(argv[i] + 8);
            if (options.files == 0) options.files = -1;
        } else if (arg == "--scanner") {
            options.scanner = true;
        } else if (arg.starts_with("--corpus=")) {
            options.corpus = std::string(arg.substr(9));
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    vexel::CDicomDictionary dictionary;
    Options options = TakeOptions(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (options.files == 0) options.files = options.scanner ? 140 : 1000;
    if (options.files < 1 || options.files > 9999) {
        std::fprintf(stderr, "--files must be 1 to 9999\n");
        return 1;
    }

    if (!options.corpus.empty()) {
        g_files = vexel::bench::ListFolder(options.corpus);
        if (g_files.empty()) {
            std::fprintf(stderr, "no files in %s\n", options.corpus.c_str());
            return 1;
        }
        benchmark::AddCustomContext("corpus", options.corpus);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        return 0;
    }
    vexel::bench::CorpusShape shape;
    shape.files = options.files;
    if (options.scanner) {
        shape.columns = shape.rows = 512;
        shape.scannerHeaders = true;
    }
    std::string error;
    g_files = vexel::bench::EnsureCtCorpus(options.dataDir, shape, &error);
    if (g_files.empty()) {
        std::fprintf(stderr, "cannot prepare the corpus in %s: %s\n", options.dataDir.c_str(),
                     error.c_str());
        return 1;
    }
    benchmark::AddCustomContext("corpus", vexel::bench::CorpusFolder(options.dataDir, shape));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
