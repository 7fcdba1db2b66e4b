// The viewer driven as a user would, on real phantom files: the first series comes up after
// the scan, the widget shows exactly the viewport's surface, choosing rows loads whole series
// and never mixes two, a quit during a scan ends it promptly; Space brings up the cine window
// with the loop's acquired rate, Start plays through the real timing thread and UI loop, a
// stop made elsewhere shows on the button, F12 is remembered, the wheel browses by notches.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>
#include <QWheelEvent>
#include <chrono>
#include <functional>
#include <set>
#include <thread>

#include "app/cine_wnd.h"
#include "app/viewer_run.h"
#include "app/main_window.h"
#include "app/options.h"
#include "app/series_load_controller.h"
#include "app/dicom_thumb_box.h"
#include "app/viewer_app.h"
#include "app/viewport_scroll_bar_widget.h"
#include "app/viewport_widget.h"
#include "app/workspace_panel.h"
#include "output/export_wnd.h"
#include "common/test_paths.h"
#include "dicom/dicom_file.h"
#include "engine/study_model.h"
#include "imaging/dicom_image.h"
#include "phantom/geometry_series.h"
#include "phantom/phantom_writer.h"
#include "viewer/viewport_annotations.h"
#include "viewer/viewport_cine.h"
#include "viewer/viewport_synchronizer.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;
using namespace test;

constexpr uint32_t kSeriesInstanceUid = 0x0020000E;
const std::string kCtUid = std::string(phantom::kDefaultUidRoot) + ".2.1";
const std::string kPetUid = std::string(phantom::kDefaultUidRoot) + ".2.2";

SeriesView FindSeries(const StudyModel& model, const std::string& uid) {
    for (const PatientView& patient : model.Snapshot())
        for (const StudyView& study : patient.studies)
            for (const SeriesView& series : study.series)
                if (series.seriesInstanceUid == uid) return series;
    return {};
}

// Every listed image is a file of the series, and every file of the series is listed.
void ExpectShowsExactly(CMainWindow& window, const std::string& uid) {
    const SeriesView series = FindSeries(window.Model(), uid);
    ASSERT_NE(series.id, 0u) << uid;
    const std::vector<std::string> files = window.Model().GetSeriesFiles(series.id);
    const std::set<std::string> expected(files.begin(), files.end());
    ASSERT_NE(window.ActiveViewport(), nullptr);
    CViewport2D& viewport = *window.ActiveViewport();
    EXPECT_EQ(viewport.PendingCount(), 0u);
    ASSERT_EQ(viewport.ImageCount(), files.size()) << uid;
    std::set<std::string> listed;
    for (size_t i = 0; i < viewport.ImageCount(); ++i) {
        CDicomFile& file = viewport.ImageAt(i)->File();
        EXPECT_EQ(file.String(kSeriesInstanceUid), uid) << file.Path();
        listed.insert(file.Path());
    }
    EXPECT_EQ(listed, expected);
}

void ClickRow(CDicomThumbBox& box, int row, Qt::KeyboardModifiers keys = {}) {
    ASSERT_GE(row, 0);
    box.ScrollToRow(row);
    QTest::mouseClick(&box, Qt::LeftButton, keys, box.RowRect(row).center());
}

int RowOf(CMainWindow& window, const std::string& uid) {
    return window.Thumbnails().RowOf(FindSeries(window.Model(), uid).id);
}

SeriesId Marked(CMainWindow& window) {
    return window.Thumbnails().MarkedSeries();
}

// Pixels of the widget's viewport area that differ from the surface, painted onto an opaque
// target (X11) and onto one with alpha (Wayland's backing store), where they must be opaque.
size_t PaintedDifferences(CViewportWidget& widget) {
    const CViewportSurface& surface = widget.Viewport().Surface();
    QImage withAlpha(widget.size(), QImage::Format_ARGB32_Premultiplied);
    withAlpha.fill(Qt::transparent);
    widget.render(&withAlpha);
    size_t differences = 0;
    for (const QImage& shot : {widget.grab().toImage(), withAlpha}) {
        if (shot.width() < surface.Width() || shot.height() < surface.Height()) return SIZE_MAX;
        for (int32_t y = 0; y < surface.Height(); ++y)
            for (int32_t x = 0; x < surface.Width(); ++x)
                if (shot.pixel(x, y) != (surface.At(x, y) | 0xFF000000u)) ++differences;
    }
    return differences;
}

bool StatusShows(CMainWindow& window, const QString& text) {
    const auto labels = window.statusBar()->findChildren<QLabel*>();
    return std::any_of(labels.begin(), labels.end(), [&](QLabel* l) { return l->text() == text; });
}

TEST(ViewportWindow, ShowsTheFirstSeriesAtOnceAndPaintsExactlyItsSurface) {
    const fs::path root = WriteSmallStudy("viewport-first", 12);
    // The CT alone: the first series found opens, and which folder a scan lists first is the
    // file system's choice.
    RunViewer({(root / "study" / "CT").string()}, "viewport-first-user", [&](CViewerApp& app) {
        CMainWindow& window = *app.MainWindow();
        ASSERT_TRUE(WaitFor([&] { return LoadedAndIdle(window); }));
        ExpectShowsExactly(window, kCtUid);
        EXPECT_EQ(Marked(window), FindSeries(window.Model(), kCtUid).id);

        CViewportWidget& widget = window.ActivePanel()->ViewportWidget();
        CViewport2D& viewport = widget.Viewport();
        const CViewportSurface& surface = viewport.Surface();
        EXPECT_GT(widget.width(), window.Thumbnails().width()) << "the viewport takes the room";
        // A series opens at its first image, which is air in the phantom: look further in.
        viewport.ShowImage(5, true, true);
        ASSERT_TRUE(viewport.RenderedImage());
        size_t lit = 0;
        for (int32_t y = 0; y < surface.Height(); ++y)
            for (int32_t x = 0; x < surface.Width(); ++x)
                lit += (surface.At(x, y) & 0xFFFFFF) != 0;
        EXPECT_GT(lit, size_t(surface.Width()) * surface.Height() / 50) << "a blank surface";
        EXPECT_EQ(PaintedDifferences(widget), 0u);

        // A change is on screen before the call returns, not at the next paint.
        const uint64_t paints = widget.PaintCount();
        viewport.Browse(1);
        EXPECT_EQ(viewport.CurrentIndex(), 6u);
        EXPECT_GT(widget.PaintCount(), paints);
        EXPECT_EQ(PaintedDifferences(widget), 0u);
        EXPECT_TRUE(StatusShows(window, "Image 7 / 12"));

        // Every resize lays out again, fitted to the new size.
        for (const QSize size : {QSize(840, 520), QSize(800, 900)}) {
            window.showNormal();
            window.resize(size);
            // The platform reports the new size through the loop.
            ASSERT_TRUE(WaitFor([&] { return window.size() == size; }));
            Drain();
            EXPECT_EQ(surface.Width(), widget.width() - CMyScrollBar::kWidth);
            EXPECT_EQ(surface.Height(), widget.height());
            // Fitted: the square image fills the shorter side.
            EXPECT_EQ(
                std::max(viewport.Geometry().displayedWidth, viewport.Geometry().displayedHeight),
                std::min(surface.Width(), surface.Height()));
            EXPECT_EQ(PaintedDifferences(widget), 0u) << size.width() << "x" << size.height();
        }

        // Ctrl+C takes the picture as shown, layers included; Ctrl+E opens the export window.
        ASSERT_TRUE(window.CopyToClipboard());
        const QImage copied = QGuiApplication::clipboard()->image();
        ASSERT_EQ(copied.size(), QSize(surface.Width(), surface.Height()));
        size_t differences = 0;
        for (int32_t y = 0; y < surface.Height(); ++y)
            for (int32_t x = 0; x < surface.Width(); ++x)
                differences += (copied.pixel(x, y) & 0xFFFFFF) != (surface.At(x, y) & 0xFFFFFF);
        EXPECT_EQ(differences, 0u);
        CExportWnd* exporter = window.OpenExport();
        ASSERT_NE(exporter, nullptr);
        EXPECT_TRUE(exporter->isVisible());
        EXPECT_EQ(window.OpenExport(), exporter) << "one window, kept";
    });
}

TEST(ViewportWindow, ChoosingASeriesLoadsAllOfItAndNeverMixesTwo) {
    const fs::path root = WriteSmallStudy("viewport-choose", 12);
    // A long series of another study, so that a load is still running when the user moves on.
    const std::string longRoot = "2.25.314159";
    phantom::PhantomOptions longOptions;
    longOptions.columns = longOptions.rows = 32;
    longOptions.slices = 600;
    longOptions.uidRoot = longRoot;
    std::string error;
    ASSERT_TRUE(phantom::WriteCtSeries(root / "long", longOptions, &error)) << error;
    const std::string longUid = longRoot + ".2.1";

    RunViewer({root.string()}, "viewport-choose-user", [&](CViewerApp& app) {
        CMainWindow& window = *app.MainWindow();
        ASSERT_TRUE(WaitFor([&] { return LoadedAndIdle(window); }));
        CViewport2D& viewport = *window.ActiveViewport();

        ClickRow(window.Thumbnails(), RowOf(window, kPetUid));
        ASSERT_TRUE(WaitFor([&] { return LoadedAndIdle(window); }));
        ExpectShowsExactly(window, kPetUid);

        // Two choices in a row: the first load is dropped before it delivers anything.
        ClickRow(window.Thumbnails(), RowOf(window, kCtUid));
        ClickRow(window.Thumbnails(), RowOf(window, kPetUid));
        ASSERT_TRUE(WaitFor([&] { return LoadedAndIdle(window); }));
        Drain();
        ExpectShowsExactly(window, kPetUid);

        // Moving on while the long series is half loaded.
        ClickRow(window.Thumbnails(), RowOf(window, longUid));
        ASSERT_TRUE(WaitFor([&] { return viewport.ImageCount() > 0; }));
        const bool midLoad = window.ActivePanel()->Loads().Loading();
        const size_t arrived = viewport.ImageCount() + viewport.PendingCount();
        ClickRow(window.Thumbnails(), RowOf(window, kCtUid));
        ASSERT_TRUE(midLoad) << "the long load ended first: nothing was tested";
        EXPECT_LT(arrived, 600u);
        ASSERT_TRUE(WaitFor([&] { return LoadedAndIdle(window); }));
        // The queue runs one job at a time: the cancelled load returned, and its last
        // messages were delivered, before this load started. Anything still queued runs now.
        Drain();
        ExpectShowsExactly(window, kCtUid);
        EXPECT_EQ(Marked(window), FindSeries(window.Model(), kCtUid).id);

        // Ctrl puts the PET into a second panel beside the CT.
        ClickRow(window.Thumbnails(), RowOf(window, kPetUid), Qt::ControlModifier);
        ASSERT_TRUE(WaitFor([&] { return LoadedAndIdle(window); }));
        Drain();
        ASSERT_EQ(window.Workspace().Panels().size(), 2u);
        ExpectShowsExactly(window, kPetUid);
        EXPECT_EQ(window.Workspace().Panels().front()->Viewport().ImageCount(), 12u);
    });
}

// Storage made slow for one series of another patient (20 ms a file): a panel removed during
// the scan, one removed while its own load delivers, and one given another series while its
// old one still decodes. Nothing more reaches the removed panels; the reused one shows only
// its new series.
TEST(ViewportWindow, RemovedAndReusedPanelsGetNothingMoreOfTheirOldLoads) {
    if (!test::HaveProgram("dcmodify")) GTEST_SKIP() << "dcmodify (DCMTK) not installed";
    const fs::path root = WriteSmallStudy("viewport-remove", 12);
    phantom::PhantomOptions slowOptions;
    slowOptions.columns = slowOptions.rows = 32;
    slowOptions.slices = 40;
    slowOptions.uidRoot = "2.25.271";
    std::string error;
    ASSERT_TRUE(phantom::WriteCtSeries(root / "slow", slowOptions, &error)) << error;
    int code = -1;
    test::RunCommand("dcmodify -nb -m '(0010,0010)=Other^Patient' -m '(0010,0020)=OTHER002' " +
                         test::Quote((root / "slow").string()) + "/*.dcm >/dev/null 2>&1",
                     &code);
    ASSERT_EQ(code, 0);
    const std::string slowUid = "2.25.271.2.1";
    const auto slowStorage = [](const std::string& path) {
        if (path.find("/slow/") != std::string::npos)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };
    RunViewer(
        {root.string()}, "viewport-remove-user",
        [&](CViewerApp& app) {
            CMainWindow& window = *app.MainWindow();
            ASSERT_TRUE(WaitFor([&] { return window.ActivePanel() != nullptr; }));
            ASSERT_TRUE(window.Scans().Scanning()) << "the scan ended first: nothing was tested";
            window.Workspace().RemovePanel(window.ActivePanel()->Id(), true, true);
            ASSERT_TRUE(WaitFor([&] { return !window.Scans().Scanning(); }));
            Drain();
            EXPECT_TRUE(window.Workspace().Panels().empty()) << "nothing opens by itself again";

            const auto showWhileLoading = [&] {
                window.ShowSeries(FindSeries(window.Model(), slowUid).id);
                CWorkspacePanel* panel = window.ActivePanel();
                EXPECT_TRUE(WaitFor([&] { return panel->Viewport().ImageCount() > 0; }));
                EXPECT_TRUE(panel->Loads().Loading()) << "the load ended first";
                return panel;
            };
            window.Workspace().RemovePanel(showWhileLoading()->Id(), true, true);
            Drain();
            EXPECT_TRUE(window.Workspace().Panels().empty());

            CWorkspacePanel* reused = showWhileLoading();
            window.ShowSeries(FindSeries(window.Model(), kPetUid).id);
            EXPECT_EQ(window.ActivePanel(), reused);
            ASSERT_TRUE(WaitFor([&] { return LoadedAndIdle(window); }));
            // The slow load's remaining files would arrive now if anything still let them.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            Drain();
            ExpectShowsExactly(window, kPetUid);
        },
        slowStorage);
}

// Two panels of one study in different planes: the active panel's image is drawn as a line on
// the other, and the line follows the active panel.
TEST(ViewportWindow, ReferenceLinesFollowTheActivePanel) {
    const fs::path root = test::ScratchDir("viewport-reference-lines");
    std::string error;
    for (const auto which : {phantom::GeometryCase::kAxial, phantom::GeometryCase::kCoronal}) {
        ASSERT_TRUE(phantom::WriteGeometrySeries(root / phantom::GeometryCaseName(which),
                                                 phantom::GeometryCaseOptions(which), &error))
            << error;
    }
    RunViewer({root.string()}, "viewport-reference-lines-user", [&](CViewerApp& app) {
        CMainWindow& window = *app.MainWindow();
        ASSERT_TRUE(WaitFor([&] { return !window.Scans().Scanning(); }));
        SeriesId axial = 0, coronal = 0;
        for (const PatientView& patient : window.Model().Snapshot())
            for (const StudyView& study : patient.studies)
                for (const SeriesView& series : study.series)
                    (series.description.find("axial") != std::string::npos ? axial : coronal) =
                        series.id;
        ASSERT_TRUE(window.ShowSeries(axial));
        CWorkspacePanel* first = window.ActivePanel();
        ASSERT_TRUE(window.ShowSeries(coronal, true));
        CWorkspacePanel* second = window.ActivePanel();
        ASSERT_NE(first, second);
        ASSERT_TRUE(WaitFor([&] { return LoadedAndIdle(window) && !first->Loads().Loading(); }));
        Drain();
        EXPECT_TRUE(first->Viewport().Synchronizer().ReferenceLineShown());
        EXPECT_FALSE(second->Viewport().Synchronizer().ReferenceLineShown());
        window.Workspace().ActivateNext(1);
        ASSERT_EQ(window.ActivePanel(), first);
        EXPECT_TRUE(second->Viewport().Synchronizer().ReferenceLineShown());
        EXPECT_FALSE(first->Viewport().Synchronizer().ReferenceLineShown());
    });
}

// A quit during the scan ends it promptly.
TEST(MainWindowScan, QuitDuringAScanStopsItAndEndsPromptly) {
    const fs::path root = test::ScratchDir("viewer-scan-quit");
    phantom::PhantomOptions options;
    options.columns = options.rows = 32;
    options.slices = 3000;
    std::string error;
    ASSERT_TRUE(phantom::WriteCtSeries(root / "CT", options, &error)) << error;
    size_t filesAtQuit = 0;
    RunViewer({root.string()}, "viewer-scan-quit-user", [&](CViewerApp& app) {
        WaitFor([&] { return (filesAtQuit = app.MainWindow()->Model().FileCount()) >= 100; });
    });
    // A hang would run into the hang guard of the check (too few files) or never return.
    EXPECT_GE(filesAtQuit, 100u);
    EXPECT_LT(filesAtQuit, 3000u) << "the scan ended before the quit: nothing was tested";
}

void Wheel(QWidget& widget, int delta, Qt::KeyboardModifiers held = Qt::NoModifier) {
    QWheelEvent event({10, 10}, widget.mapToGlobal(QPointF(10, 10)), {}, {0, delta}, Qt::NoButton,
                      held, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&widget, &event);
}

TEST(CineWindow, SpaceStartStopF12AndWheelNotches) {
    VEXEL_REQUIRE_TESTDATA();
    RunViewer({(test::TestDataDir() / "pydicom/test_files/examples_ybr_color.dcm").string()},
              "cine_window", [](CViewerApp& app) {
                  CMainWindow& window = *app.MainWindow();
                  ASSERT_TRUE(WaitFor([&] {
                      return LoadedAndIdle(window) && window.ActiveViewport()->BrowseCount() == 30;
                  }));
                  CViewport2D& viewport = *window.ActiveViewport();
                  CViewportWidget& widget = window.ActivePanel()->ViewportWidget();
                  QTest::keyClick(&window, Qt::Key_Space);
                  ASSERT_NE(window.CineWindow(), nullptr);
                  CCineWnd& cine = *window.CineWindow();
                  EXPECT_TRUE(cine.isVisible());
                  EXPECT_EQ(cine.RateField().value(), 30);  // Frame Time 33.333 ms
                  cine.Button().click();
                  EXPECT_EQ(cine.Button().text(), "Stop");
                  EXPECT_TRUE(WaitFor([&] { return viewport.BrowsePosition() >= 3; }));
                  EXPECT_EQ(viewport.Annotations().ShownTexts().at(0).text, "30 fps");
                  viewport.Cine().Stop();  // as a toolbar or another window would
                  EXPECT_EQ(cine.Button().text(), "Start");
                  QTest::keyClick(&cine, Qt::Key_Escape);
                  EXPECT_FALSE(cine.isVisible());
                  QTest::keyClick(&window, Qt::Key_Space);
                  QTest::keyClick(&window, Qt::Key_Space);
                  EXPECT_FALSE(cine.isVisible());

                  const uint32_t bits = app.Options()->AnnotationDisplayBits();
                  QTest::keyClick(&window, Qt::Key_F12);
                  EXPECT_EQ(app.Options()->AnnotationDisplayBits(), bits ^ kLayerAnnotations);

                  // Eight touchpad deltas of 15 make one notch back; a notch of 120 goes back one
                  // more.
                  viewport.ShowBrowsePosition(10, false, true);
                  for (int i = 0; i < 7; ++i)
                      Wheel(widget, 15);
                  EXPECT_EQ(viewport.BrowsePosition(), 10u);
                  Wheel(widget, 15);
                  EXPECT_EQ(viewport.BrowsePosition(), 9u);
                  Wheel(widget, 120);
                  EXPECT_EQ(viewport.BrowsePosition(), 8u);
                  // With Ctrl a notch zooms instead.
                  const float zoom = viewport.Geometry().zoom;
                  Wheel(widget, 120, Qt::ControlModifier);
                  EXPECT_EQ(viewport.BrowsePosition(), 8u);
                  EXPECT_GT(viewport.Geometry().zoom, zoom);
              });
}

}  // namespace
}  // namespace vexel
