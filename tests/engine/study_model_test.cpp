// Grouping of files into patients, studies and series; the order within a series, the same
// from every order of arrival; pool threads filing while another thread reads the model.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <random>
#include <thread>

#include "common/test_paths.h"
#include "study_model_test_files.h"

namespace vexel {
namespace {

using test::StudyTestImage;

StudyTestImage Image(std::string patient, std::string birth, std::string study,
                     std::string studyDate, int seriesNumber) {
    StudyTestImage image;
    image.patientName = std::move(patient);
    image.birthDate = std::move(birth);
    image.studyUid = std::move(study);
    image.studyDate = std::move(studyDate);
    image.seriesNumber = seriesNumber;
    image.seriesUid = image.studyUid + "." + std::to_string(seriesNumber);
    return image;
}

TEST(StudyModelGrouping, PatientsStudiesAndSeriesOfOneFolder) {
    std::vector<StudyTestImage> images = {
        Image("beta^carl", "19800202", "1.9.1", "20220505", 1),
        Image("alpha^bea", "19700101", "1.1.1", "20230101", 3),
        Image("alpha^bea", "19700101", "1.1.1", "20230101", 1),
        Image("alpha^bea", "19700101", "1.1.2", "20240101", 1),
        Image("alpha^bea", "19700101", "1.1.1", "20230101", 2),
        Image("alpha^bea", "19700101", "1.1.3", "", 1),
        Image("Alpha^Bea", "19700101", "1.2.1", "20200101", 1),
        Image("Zeta^Zed", "19500505", "", "20210101", 1),
        Image("Zeta^Zed", "19500505", "", "20210101", 1),
        Image("", "", "1.0.1", "", 1),
        Image("alpha^bea", "19700101", "1.1.1", "20230101", 1),
    };
    images[4].seriesNumber.reset();  // no number: before every numbered series
    images[4].seriesUid = "1.1.1.0";
    const auto dir = test::ScratchDir("study-model-grouping");
    test::CStudyModelLoader loader;
    StudyModel model;
    for (size_t n = 0; n < images.size(); ++n) {
        const auto path = dir / ("f" + std::to_string(n));
        test::WriteStudyTestImage(path, images[n]);
        loader.Add(model, path.string());
    }
    EXPECT_EQ(test::SnapshotRows(model.Snapshot()), (std::vector<std::string>{
                                                        "patient  ",
                                                        "study 1.0.1 ",
                                                        "series 1 CT 1.0.1.1 files=1 frames=1",
                                                        "patient Alpha^Bea 19700101",
                                                        "study 1.2.1 20200101",
                                                        "series 1 CT 1.2.1.1 files=1 frames=1",
                                                        "patient alpha^bea 19700101",
                                                        "study 1.1.2 20240101",
                                                        "series 1 CT 1.1.2.1 files=1 frames=1",
                                                        "study 1.1.1 20230101",
                                                        "series 0 CT 1.1.1.0 files=1 frames=1",
                                                        "series 1 CT 1.1.1.1 files=2 frames=2",
                                                        "series 3 CT 1.1.1.3 files=1 frames=1",
                                                        "study 1.1.3 ",
                                                        "series 1 CT 1.1.3.1 files=1 frames=1",
                                                        "patient beta^carl 19800202",
                                                        "study 1.9.1 20220505",
                                                        "series 1 CT 1.9.1.1 files=1 frames=1",
                                                        "patient Zeta^Zed 19500505",
                                                        "study  20210101",
                                                        "series 1 CT .1 files=1 frames=1",
                                                        "study  20210101",
                                                        "series 1 CT .1 files=1 frames=1",
                                                    }));
}


using Position = std::array<double, 3>;

struct OrderFile {
    std::string name;
    std::optional<int> acquisition;
    std::optional<int> instance;
    std::optional<Position> position;
    std::string sopInstanceUid;
};

struct OrderCase {
    const char* label;
    std::string orientation;
    std::vector<OrderFile> files;  // in the order they are added first
    std::vector<std::string> expected;
};

// Row x column of "1\0\0\0\0\-1" is +y: positions order by y, not by z or by name.
const std::string kAxial = "1\\0\\0\\0\\1\\0";
const OrderCase kOrderCases[] = {
    {"InstanceNumbers",
     kAxial,
     {{"a", {}, 3, {}, ""}, {"x", {}, 1, {}, ""}, {"m", {}, 2, {}, ""}},
     {"x", "m", "a"}},
    {"AcquisitionBeforeInstance",
     kAxial,
     {{"a", 2, 1, {}, ""}, {"b", 1, 2, {}, ""}, {"c", 1, 1, {}, ""}},
     {"c", "b", "a"}},
    {"PositionWhenNumbersMissing",
     kAxial,
     {{"a", {}, {}, Position{0, 0, 10}, ""},
      {"b", {}, {}, Position{0, 0, -3}, ""},
      {"c", {}, {}, Position{0, 0, 5}, ""}},
     {"b", "c", "a"}},
    {"PositionAlongAnObliqueNormal",
     "1\\0\\0\\0\\0\\-1",
     {{"a", {}, 7, Position{0, 20, -5}, ""},
      {"b", {}, 7, Position{0, -10, 30}, ""},
      {"c", {}, 7, Position{0, 5, 0}, ""}},
     {"b", "c", "a"}},
    {"FilesWithoutPositionLast",
     kAxial,
     {{"a", {}, {}, Position{0, 0, 1}, ""},
      {"b", {}, {}, {}, ""},
      {"c", {}, {}, Position{0, 0, -1}, ""}},
     {"c", "a", "b"}},
    {"SopInstanceUidThenPath",
     kAxial,
     {{"a", {}, 4, {}, "1.3"}, {"b", {}, 4, {}, "1.2"}, {"d", {}, 4, {}, ""}, {"c", {}, 4, {}, ""}},
     {"c", "d", "b", "a"}},
};

class StudyModelLoadOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(StudyModelLoadOrder, SameOrderFromEveryArrivalOrder) {
    const OrderCase& order = GetParam();
    const auto dir = test::ScratchDir(std::string("study-order-") + order.label);
    std::vector<std::string> paths;
    std::map<std::string, std::string> nameOf;
    for (const OrderFile& file : order.files) {
        StudyTestImage image;
        image.seriesNumber = 1;
        image.acquisitionNumber = file.acquisition;
        image.instanceNumber = file.instance;
        image.position = file.position;
        image.orientation = order.orientation;
        image.sopInstanceUid = file.sopInstanceUid;
        paths.push_back((dir / file.name).string());
        nameOf[paths.back()] = file.name;
        test::WriteStudyTestImage(paths.back(), image);
    }
    test::CStudyModelLoader loader;
    std::sort(paths.begin(), paths.end());
    do {
        // A list that only inserts at the positions the model reports ends in its order.
        StudyModel model;
        std::vector<std::string> rows;
        for (const std::string& path : paths)
            rows.insert(rows.begin() + loader.Add(model, path)->file.position, nameOf[path]);
        EXPECT_EQ(rows, order.expected);
        std::vector<std::string> names;
        const auto series = model.Snapshot().at(0).studies.at(0).series.at(0);
        for (const std::string& path : model.GetSeriesFiles(series.id))
            names.push_back(nameOf[path]);
        EXPECT_EQ(names, order.expected);
    } while (std::next_permutation(paths.begin(), paths.end()));
}

INSTANTIATE_TEST_SUITE_P(Cases, StudyModelLoadOrder, ::testing::ValuesIn(kOrderCases),
                         [](const auto& param) { return std::string(param.param.label); });


// The tree that adding the files one by one gives.
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
