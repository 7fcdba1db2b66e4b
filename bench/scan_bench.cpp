// The folder scan as the viewer runs it (job queue, pool, registry, study model), on 1,000
// and 5,000 phantom CT slices, cold and warm page cache: time to the first series listed
// and to the end, files per second, and the peak resident memory of the process.
//
//   vexel_scan_bench [--files=N] [--cold] [--data-dir=DIR]
// One case per process, so that the peak resident memory belongs to that case alone.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench_corpus.h"
#include "dicom/dicom_dictionary.h"
#include "engine/headless_scan.h"
#include "engine/memory_services.h"
#include "engine/study_model.h"
#include "platform/memory_load.h"

int main(int argc, char** argv) {
    vexel::bench::CorpusShape shape;
    bool cold = false;
    std::filesystem::path dataRoot = VEXEL_BENCH_DATA_DIR;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--files=", 8) == 0)
            shape.files = std::atoi(argv[i] + 8);
        else if (std::strcmp(argv[i], "--cold") == 0)
            cold = true;
        else if (std::strncmp(argv[i], "--data-dir=", 11) == 0)
            dataRoot = argv[i] + 11;
    }
    vexel::CDicomDictionary dictionary;
    std::string error;
    const auto files = vexel::bench::EnsureCtCorpus(dataRoot, shape, &error);
    if (files.empty()) {
        std::fprintf(stderr, "vexel_scan_bench: %s\n", error.c_str());
        return 1;
    }
    if (cold) {
        vexel::bench::DropFromPageCache(files);
    } else {
        vexel::bench::WarmPageCache(files);
    }
    const double resident = vexel::bench::ResidentFraction(files);

    vexel::CSystemMemoryLoad load;
    vexel::CMemoryServices services(load);
    vexel::StudyModel model;
    vexel::HeadlessScanRequest request;
    request.folders = {std::filesystem::path(files.front()).parent_path().string()};
    const auto summary = vexel::RunHeadlessScan(services.Manager(), model, request);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double seconds = double(summary.elapsed.count()) / 1000.0;
    std::printf(
        "files %d  %s (resident before %.0f%%)  loaded %u  first series %lld ms  "
        "end %.3f s  %.0f files/s  peak RSS %.1f MB\n",
        shape.files, cold ? "cold" : "warm", resident * 100, summary.loaded,
        static_cast<long long>(summary.firstSeriesAfter.count()), seconds,
        seconds > 0 ? summary.loaded / seconds : 0.0, double(usage.ru_maxrss) / 1024.0);
    return summary.loaded == static_cast<uint32_t>(shape.files) ? 0 : 1;
}
