// The per-process state store, shared by worker threads.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/study_model_keys.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_image_list.h"
#include "viewer/window_preset.h"

namespace vexel {
namespace {

TEST(SeriesStateStore, WorkersShareOneStore) {
    CSeriesStateStore store;
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&store, t] {
            for (int i = 0; i < 500; ++i) {
                const std::string key = std::to_string(t) + "-" + std::to_string(i % 50);
                store.PutWindowState(key, {t, float(i), 1, 0});
                ASSERT_TRUE(store.GetWindowState(key).has_value());
                if (i % 3 == 0) store.Remove(key, StateRecord::kWindowState);
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_LE(store.Size(), 200u);
}

// Stored state is found by the series key: files of different series, and different
// multi-frame files, must never share one.
TEST(SeriesStateStore, SeriesKeysSeparateWhatIsNotOneSeries) {
    StudyFileKeys a;
    a.studyInstanceUid = "1.2";
    a.seriesNumber = 3;
    a.seriesInstanceUid = "1.2.3";
    a.file.numberOfFrames = 1;
    a.file.sopInstanceUid = "1.2.3.1";
    a.file.path = "/a/1.dcm";
    StudyFileKeys sameSeries = a;
    sameSeries.file.sopInstanceUid = "1.2.3.2";
    sameSeries.file.path = "/a/2.dcm";
    EXPECT_EQ(ViewportSeriesKey(a), ViewportSeriesKey(sameSeries));
    StudyFileKeys otherSeries = a;
    otherSeries.seriesInstanceUid = "1.2.4";
    EXPECT_NE(ViewportSeriesKey(a), ViewportSeriesKey(otherSeries));
    StudyFileKeys multiA = a, multiB = sameSeries;
    multiA.file.numberOfFrames = multiB.file.numberOfFrames = 10;
    EXPECT_NE(ViewportSeriesKey(multiA), ViewportSeriesKey(multiB));
}

}  // namespace
}  // namespace vexel
