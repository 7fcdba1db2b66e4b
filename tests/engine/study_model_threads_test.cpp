// Pool threads file images while another thread reads the model: the result is the tree that
// adding the files one by one gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

#include "common/test_paths.h"
#include "study_model_test_files.h"

namespace vexel {
namespace {

TEST(StudyModelThreads, PoolThreadsAddWhileTheUiThreadReads) {
    auto paths = test::WriteMixedStudyFolder(test::ScratchDir("study-model-threads"));
    std::shuffle(paths.begin(), paths.end(), std::mt19937(7));
    test::CStudyModelLoader loader;
    StudyModel model;
    constexpr size_t kThreads = 4;
    std::atomic<bool> stop{false};
    {
        std::jthread reader([&] {
            while (!stop)
                for (const PatientView& patient : model.Snapshot())
                    for (const StudyView& study : patient.studies)
                        for (const SeriesView& series : study.series)
                            EXPECT_GE(model.GetSeriesFiles(series.id).size(), series.fileCount);
        });
        std::vector<std::jthread> pool;
        for (size_t t = 0; t < kThreads; ++t) {
            pool.emplace_back([&, t] {
                for (size_t i = t; i < paths.size(); i += kThreads)
                    loader.Add(model, paths[i]);
            });
        }
        pool.clear();
        stop = true;
    }
    StudyModel sequential;
    for (const std::string& path : paths)
        loader.Add(sequential, path);
    EXPECT_EQ(test::SnapshotRows(model.Snapshot()), test::SnapshotRows(sequential.Snapshot()));
}

}  // namespace
}  // namespace vexel
