// Grouping of files into patients, studies and series.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vexel
