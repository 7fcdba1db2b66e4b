// The thumbnail box over real files: rows in the order `vexel scan` lists, whatever the
// order of arrival, and thumbnails that reach the row of their own series even when several
// multi-frame files share a series number and Series Instance UID.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <algorithm>
#include <filesystem>
#include <map>

#include "app/dicom_thumb_box.h"
#include "app/thumb_drag_preview.h"
#include "common/flat_json.h"
#include "common/test_paths.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "imaging/dicom_image.h"
#include "phantom/phantom_writer.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

struct OpenedFile {
    std::unique_ptr<CDicomFile> file = std::make_unique<CDicomFile>();
    CDicomImage* image = nullptr;
};

OpenedFile Open(const fs::path& path) {
    OpenedFile opened;
    if (ReadDicomFile(*opened.file, path.string()) == ReadStatus::Ok)
        opened.image = CDicomImage::AttachTo(*opened.file, true);
    return opened;
}

std::vector<fs::path> FilesUnder(const fs::path& root) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

bool Modify(const fs::path& folder, const std::string& assignment) {
    int code = -1;
    test::RunCommand("find " + test::Quote(folder) + " -type f -exec dcmodify -nb -m '" +
                         assignment + "' {} + >/dev/null 2>&1",
                     &code);
    return code == 0;
}

// Three patients (two differ only in letter case) with two studies of a CT and a
// multi-frame series each, against the order `vexel scan --json` gives.
TEST(ThumbBox, RowsFollowTheScanCommandsOrderWhateverTheArrival) {
    if (!test::HaveProgram("dcmodify")) GTEST_SKIP() << "dcmodify (DCMTK) not installed";
    const fs::path root = test::ScratchDir("thumb-box-order");
    const std::map<std::string, QString> patients = {
        {"Doe^Jane", "Doe Jane"}, {"doe^jane", "doe jane"}, {"Adams^Ann^^", "Adams Ann"}};
    phantom::PhantomOptions options;
    options.columns = options.rows = 16;
    options.slices = 2;
    options.frames = 2;
    int studies = 0;
    for (const auto& [name, shown] : patients) {
        for (int i = 0; i < 2; ++i) {
            options.uidRoot = "2.25.7100" + std::to_string(++studies);
            const fs::path folder = root / options.uidRoot;
            std::string error;
            ASSERT_TRUE(phantom::WriteStudy(folder, {true, false, true, false}, options, &error))
                << error;
            ASSERT_TRUE(Modify(folder, "(0010,0010)=" + name));
        }
    }
    int code = -1;
    std::map<std::string, std::string> json;
    ASSERT_TRUE(test::ReadFlatJson(
        test::RunCommand(test::Vexel() + " scan --json " + test::Quote(root), &code), json));
    ASSERT_EQ(code, 0);
    std::vector<QString> expected;
    for (int p = 0; json.count("/patients/" + std::to_string(p) + "/name"); ++p) {
        const std::string patient = "/patients/" + std::to_string(p);
        expected.push_back("P:" + patients.at(json[patient + "/name"]));
        for (int s = 0; json.count(patient + "/studies/" + std::to_string(s) + "/header"); ++s) {
            const std::string study = patient + "/studies/" + std::to_string(s);
            expected.push_back("S:" + QString::fromStdString(json[study + "/header"]));
            for (int r = 0; json.count(study + "/series/" + std::to_string(r) + "/number"); ++r) {
                const std::string series = study + "/series/" + std::to_string(r);
                expected.push_back(QString::fromStdString(
                    "R:" + json[series + "/seriesInstanceUid"] + " " +
                    json[series + "/sopInstanceUids/0"]));
            }
        }
    }
    ASSERT_EQ(expected.size(), 3u + 6u + 12u);

    StudyModel model;
    CDicomThumbBox box(model);
    std::vector<fs::path> files = FilesUnder(root);
    std::reverse(files.begin(), files.end());
    for (const fs::path& path : files) {
        OpenedFile opened = Open(path);
        ASSERT_NE(opened.image, nullptr) << path;
        box.AddFile(*opened.file);
    }
    std::vector<QString> rows;
    for (int row = 0; row < box.Count(); ++row) {
        const ThumbEntry& entry = box.Entry(row);
        if (entry.kind == ThumbRowKind::Patient) rows.push_back("P:" + entry.patientName);
        if (entry.kind == ThumbRowKind::Study) rows.push_back("S:" + entry.seriesLine);
        if (entry.kind != ThumbRowKind::Series) continue;
        const auto records = model.GetSeriesFileRecords(entry.series);
        const auto view = model.FindSeries(entry.series);
        ASSERT_TRUE(view && !records.empty());
        rows.push_back(QString::fromStdString("R:" + view->seriesInstanceUid + " " +
                                              records.front().sopInstanceUid));
    }
    EXPECT_EQ(rows, expected);
}

// Five copies of one multi-frame file with their own SOP Instance UIDs and matrix sizes:
// five series of one series number and UID, each with its own thumbnail.
TEST(ThumbBox, EachMultiFrameFileGetsItsOwnThumbnail) {
    if (!test::HaveProgram("dcmodify")) GTEST_SKIP() << "dcmodify (DCMTK) not installed";
    const fs::path root = test::ScratchDir("thumb-box-loops");
    struct Loop {
        int columns, rows;
        ThumbnailDimensions size;
    };
    const Loop loops[] = {{64, 64, {90, 90}}, {64, 48, {90, 67}}, {48, 64, {67, 90}},
                          {64, 32, {90, 45}}, {32, 64, {45, 90}}};
    StudyModel model;
    CDicomThumbBox box(model);
    std::vector<OpenedFile> opened;
    std::vector<SeriesId> series;
    for (size_t i = 0; i < std::size(loops); ++i) {
        phantom::PhantomOptions options;
        options.columns = loops[i].columns;
        options.rows = loops[i].rows;
        options.slices = 3;
        options.frames = 2;
        const fs::path folder = root / ("loop" + std::to_string(i));
        std::string error;
        ASSERT_TRUE(phantom::WriteMultiFrameCt(folder, options, &error)) << error;
        ASSERT_TRUE(Modify(folder, "(0008,0018)=2.25.4242." + std::to_string(i + 1)));
        opened.push_back(Open(FilesUnder(folder).at(0)));
        ASSERT_NE(opened.back().image, nullptr);
        series.push_back(box.AddFile(*opened.back().file).series);
    }
    ASSERT_EQ(box.Count(), 2 + 5);
    for (size_t i = 0; i < series.size(); ++i)
        EXPECT_TRUE(box.SetThumbnail(series[i], *opened[i].image));
    for (size_t i = 0; i < series.size(); ++i) {
        SCOPED_TRACE(i);
        const int row = box.RowOf(series[i]);
        ASSERT_GE(row, 0);
        const auto& shown = box.Entry(row).thumbnail;
        const auto own = RenderThumbnail(*opened[i].image);
        ASSERT_TRUE(shown && own);
        EXPECT_EQ(ThumbnailDimensions({shown->width, shown->height}), loops[i].size);
        EXPECT_TRUE(shown->pixels == own->pixels);
    }
    // The drag preview shows the dragged row's thumbnail.
    const int row = box.RowOf(series[1]);
    box.resize(CListBoxBase::kWidth, 1000);
    const QPoint at = box.RowRect(row).center();
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseMove}) {
        const QPointF point = type == QEvent::MouseMove ? at + QPoint(0, 40) : at;
        QMouseEvent event(type, point, point, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&box, &event);
    }
    EXPECT_EQ(box.DragPreview().Image(), CThumbRowPainter::ImageOf(*box.Entry(row).thumbnail));
}

}  // namespace
}  // namespace vexel
