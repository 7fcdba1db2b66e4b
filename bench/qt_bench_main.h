// The main of a Google Benchmark program that needs Qt widgets: an offscreen QApplication and
// the data dictionary live around the benchmarks.
#pragma once

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cstdlib>

#include "dicom/dicom_dictionary.h"

#define VEXEL_QT_BENCHMARK_MAIN()                                  \
    int main(int argc, char** argv) {                              \
        setenv("QT_QPA_PLATFORM", "offscreen", 0);                 \
        QApplication application(argc, argv);                      \
        vexel::CDicomDictionary dictionary;                        \
        benchmark::Initialize(&argc, argv);                        \
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1; \
        benchmark::RunSpecifiedBenchmarks();                       \
        benchmark::Shutdown();                                     \
        return 0;                                                  \
    }
