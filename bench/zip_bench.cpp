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

#include "bench_corpus.h"
#include "engine/zip_engine.h"

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

}  // namespace

BENCHMARK(BM_ModuleToDevNull)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_UnzipToDevNull)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK_MAIN();
