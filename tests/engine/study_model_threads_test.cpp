// Pool threads file images while another thread reads the model.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <random>
#include <thread>

#include "common/test_paths.h"
#include "study_model_test_files.h"

namespace vexel {
namespace {

struct Filed {
    AddFileResult result;
    std::string path;
};

// Reads every part of the model until told to stop; returns how many reads it made.
size_t ReadUntil(const StudyModel& model, const std::atomic<bool>& stop) {
    size_t reads = 0;
    while (!stop.load()) {
        for (const PatientView& patient : model.Snapshot()) {
            for (const StudyView& study : patient.studies) {
                for (const SeriesView& series : study.series) {
                    const auto files = model.GetSeriesFiles(series.id);
                    EXPECT_GE(files.size(), series.fileCount);
                    EXPECT_TRUE(model.FindSeries(series.id));
                }
            }
        }
        ++reads;
    }
    return reads;
}

TEST(StudyModelThreads, PoolThreadsAddWhileTheUiThreadReads) {
    auto paths = test::WriteMixedStudyFolder(test::ScratchDir("study-model-threads"));
    std::shuffle(paths.begin(), paths.end(), std::mt19937(7));
    test::CStudyModelLoader loader;
    StudyModel model;
    constexpr size_t kThreads = 4;
    std::vector<std::vector<Filed>> filed(kThreads);
    std::atomic<bool> stop{false};
    std::barrier start(kThreads + 1);
    size_t reads = 0;
    {
        std::jthread reader([&] {
            start.arrive_and_wait();
            reads = ReadUntil(model, stop);
        });
        std::vector<std::jthread> pool;
        for (size_t t = 0; t < kThreads; ++t) {
            pool.emplace_back([&, t] {
                start.arrive_and_wait();
                for (size_t i = t; i < paths.size(); i += kThreads) {
                    filed[t].push_back({*loader.Add(model, paths[i]), paths[i]});
                }
            });
        }
        for (std::jthread& thread : pool)
            thread.join();
        stop = true;
    }
    EXPECT_GT(reads, 0u);
    EXPECT_EQ(model.FileCount(), paths.size());

    // Results applied in revision order rebuild the model's own order.
    std::vector<Filed> all;
    for (const auto& list : filed)
        all.insert(all.end(), list.begin(), list.end());
    std::sort(all.begin(), all.end(),
              [](const Filed& a, const Filed& b) { return a.result.revision < b.result.revision; });
    test::CRowView view;
    for (const Filed& item : all)
        view.Apply(item.result, item.path);
    view.ExpectMatches(model);

    StudyModel sequential;
    for (const std::string& path : paths)
        loader.Add(sequential, path);
    EXPECT_EQ(test::SnapshotRows(model.Snapshot()), test::SnapshotRows(sequential.Snapshot()));
}

}  // namespace
}  // namespace vexel
