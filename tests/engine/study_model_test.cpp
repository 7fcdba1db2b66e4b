// Grouping of files into patients, studies and series.
#include <gtest/gtest.h>

#include "common/test_paths.h"
#include "study_model_test_files.h"

namespace vexel {
namespace {

using test::StudyTestImage;

class StudyModelGrouping : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = test::ScratchDir(std::string("study-model-") +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    std::string Write(const std::string& name, const StudyTestImage& image) {
        const auto path = m_dir / name;
        test::WriteStudyTestImage(path, image);
        return path.string();
    }
    AddFileResult Add(const std::string& path) {
        auto result = m_loader.Add(m_model, path);
        return result.value_or(AddFileResult{});
    }

    std::filesystem::path m_dir;
    test::CStudyModelLoader m_loader;
    StudyModel m_model;
};

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

TEST_F(StudyModelGrouping, PatientsStudiesAndSeriesOfOneFolder) {
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
    int n = 0;
    for (const StudyTestImage& image : images)
        Add(Write("f" + std::to_string(n++), image));

    EXPECT_EQ(test::SnapshotRows(m_model.Snapshot()), (std::vector<std::string>{
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

TEST_F(StudyModelGrouping, EachMultiFrameFileIsASeries) {
    StudyTestImage single = Image("P", "", "1.7", "20200101", 5);
    StudyTestImage multi = single;
    multi.frames = 3;
    std::vector<std::string> paths;
    for (int instance : {4, 2}) {
        multi.instanceNumber = instance;
        multi.sopInstanceUid = "1.7.5.9." + std::to_string(instance);
        paths.push_back(Write("mf" + std::to_string(instance), multi));
    }
    for (int instance : {1, 3}) {
        single.instanceNumber = instance;
        paths.push_back(Write("sf" + std::to_string(instance), single));
    }
    std::vector<AddFileResult> results;
    for (const std::string& path : paths)
        results.push_back(Add(path));
    const auto patients = m_model.Snapshot();
    const auto& series = patients.at(0).studies.at(0).series;
    ASSERT_EQ(series.size(), 3u);
    // Single-frame files first, then the multi-frame files by instance number.
    EXPECT_FALSE(series[0].multiFrame);
    EXPECT_EQ(series[0].fileCount, 2u);
    EXPECT_EQ(series[1].id, results[1].series);
    EXPECT_EQ(series[2].id, results[0].series);
    EXPECT_EQ(series[1].frameTotal, 3u);
    EXPECT_EQ(m_model.GetSeriesFiles(series[2].id), std::vector<std::string>{paths[0]});
}

}  // namespace
}  // namespace vexel
