// Display and load order: every level sorted by keys of the files alone, so any order of
// arrival gives the same tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "common/test_paths.h"
#include "study_model_test_files.h"

namespace vexel {
namespace {

using test::StudyTestImage;
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
        StudyModel model;
        test::CRowView view;
        for (const std::string& path : paths)
            view.Apply(*loader.Add(model, path), path);
        view.ExpectMatches(model);
        std::vector<std::string> names;
        const auto series = model.Snapshot().at(0).studies.at(0).series.at(0);
        for (const std::string& path : model.GetSeriesFiles(series.id))
            names.push_back(nameOf[path]);
        EXPECT_EQ(names, order.expected);
    } while (std::next_permutation(paths.begin(), paths.end()));
}

INSTANTIATE_TEST_SUITE_P(Cases, StudyModelLoadOrder, ::testing::ValuesIn(kOrderCases),
                         [](const auto& param) { return std::string(param.param.label); });

}  // namespace
}  // namespace vexel
