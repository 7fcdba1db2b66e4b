// The viewport in the main window, driven as a user would on real phantom files: the first
// series comes up after the scan, the widget shows exactly the viewport's surface, choosing
// rows loads whole series and never mixes two, and the keys, the View menu and the scroll bar
// reach the viewport.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidgetItemIterator>
#include <chrono>
#include <functional>
#include <set>
#include <thread>

#include "app/main_window.h"
#include "app/series_load_controller.h"
#include "app/study_tree.h"
#include "app/viewer_app.h"
#include "app/viewport_scroll_bar_widget.h"
#include "app/viewport_widget.h"
#include "common/test_paths.h"
#include "dicom/dicom_file.h"
#include "engine/study_model.h"
#include "imaging/dicom_image.h"
#include "phantom/phantom_writer.h"
#include "viewer/viewport_window_tool.h"
#include "viewer_run.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr uint32_t kSeriesInstanceUid = 0x0020000E;
const std::string kCtUid = std::string(phantom::kDefaultUidRoot) + ".2.1";
const std::string kPetUid = std::string(phantom::kDefaultUidRoot) + ".2.2";

// Runs the viewer on paths; body runs once the main window is shown, then the viewer quits.
void RunViewer(const std::vector<std::string>& paths, const std::string& scratch,
               const std::function<void(CViewerApp&)>& body) {
    ViewerAppOptions options;
    const auto root = test::ScratchDir(scratch);
    options.folders = UserBaseFolders{root / "data", root / "config"};
    CViewerApp* running = nullptr;
    options.onShown = [&] {
        body(*running);
        running->RequestQuit();
    };
    CViewerApp app(options);
    running = &app;
    test::RunViewerWith(app, paths);
}

// Runs the loop until done (false after a hang guard of 120 s).
bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Runs everything queued to the loop so far: a marker posted now runs after all of it.
void Drain() {
    bool reached = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { reached = true; }, Qt::QueuedConnection);
    EXPECT_TRUE(WaitFor([&] { return reached; }));
}

bool LoadedAndIdle(CMainWindow& window) {
    return !window.Scans().Scanning() && !window.Loads().Loading() &&
           window.Viewport().ImageCount() > 0;
}

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
    CViewport2D& viewport = window.Viewport();
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

void ClickRow(CStudyTree& tree, QTreeWidgetItem* row) {
    ASSERT_NE(row, nullptr);
    tree.scrollToItem(row);
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualItemRect(row).center());
}

QTreeWidgetItem* RowOf(CMainWindow& window, const std::string& uid) {
    return window.Tree().SeriesRow(FindSeries(window.Model(), uid).id);
}

// Pixels of the widget's viewport area that differ from the surface.
size_t PaintedDifferences(CViewportWidget& widget) {
    const CViewportSurface& surface = widget.Viewport().Surface();
    const QImage shot = widget.grab().toImage();
    if (shot.width() < surface.Width() || shot.height() < surface.Height()) return SIZE_MAX;
    size_t differences = 0;
    for (int32_t y = 0; y < surface.Height(); ++y)
        for (int32_t x = 0; x < surface.Width(); ++x)
            if ((shot.pixel(x, y) & 0xFFFFFF) != (surface.At(x, y) & 0xFFFFFF)) ++differences;
    return differences;
}

bool StatusShows(CMainWindow& window, const QString& text) {
    for (QLabel* label : window.statusBar()->findChildren<QLabel*>())
        if (label->text() == text) return true;
    return false;
}

QAction* MenuAction(CMainWindow& window, const QString& prefix) {
    for (QAction* action : window.findChildren<QAction*>())
        if (action->text().startsWith(prefix)) return action;
    return nullptr;
}

fs::path WriteSmallStudy(const std::string& name, int slices) {
    const fs::path root = test::ScratchDir(name);
    phantom::PhantomOptions options;
    options.columns = options.rows = 64;
    options.slices = slices;
    std::string error;
    EXPECT_TRUE(phantom::WriteStudy(root / "study", {true, true, false, false}, options, &error))
        << error;
    return root;
}

TEST(ViewportWindow, ShowsTheFirstSeriesAtOnceAndPaintsExactlyItsSurface) {
    const fs::path root = WriteSmallStudy("viewport-first", 12);
    RunViewer({(root / "study").string()}, "viewport-first-user", [&](CViewerApp& app) {
        CMainWindow& window = *app.MainWindow();
        ASSERT_TRUE(WaitFor([&] { return LoadedAndIdle(window); }));
        EXPECT_EQ(window.windowTitle(), "Vexel DICOM Viewer");
        // CT is series 1: first in model order, so it is what comes up.
        ExpectShowsExactly(window, kCtUid);
        EXPECT_EQ(window.Tree().currentItem(), RowOf(window, kCtUid));

        CViewportWidget& widget = window.ViewportWidget();
        CViewport2D& viewport = widget.Viewport();
        const CViewportSurface& surface = viewport.Surface();
        EXPECT_EQ(surface.Width(), widget.width() - CMyScrollBar::kWidth);
        EXPECT_EQ(surface.Height(), widget.height());
        EXPECT_GT(widget.width(), window.Tree().width()) << "the viewport takes the room";
        // A series opens at its first image, which is air in the phantom: look further in.
        viewport.ShowImage(5, true, true);
        ASSERT_TRUE(viewport.RenderedImage());
        size_t lit = 0;
        for (int32_t y = 0; y < surface.Height(); ++y)
            for (int32_t x = 0; x < surface.Width(); ++x)
                lit += (surface.At(x, y) & 0xFFFFFF) != 0;
        EXPECT_GT(lit, size_t(surface.Width()) * surface.Height() / 50) << "a blank surface";
        EXPECT_EQ(PaintedDifferences(widget), 0u);
        EXPECT_TRUE(StatusShows(window, "Image 6 / 12"));

        // A change is on screen before the call returns, not at the next paint.
        const uint64_t paints = widget.PaintCount();
        viewport.Browse(1);
        EXPECT_EQ(viewport.CurrentIndex(), 6u);
        EXPECT_GT(widget.PaintCount(), paints);
        EXPECT_EQ(PaintedDifferences(widget), 0u);
        EXPECT_TRUE(StatusShows(window, "Image 7 / 12"));

        // Every resize lays out again, fitted to the new size.
        for (const QSize size : {QSize(640, 420), QSize(900, 700), QSize(500, 800)}) {
            window.showNormal();
            window.resize(size);
            // The platform reports the new size through the loop.
            ASSERT_TRUE(WaitFor([&] { return window.size() == size; }));
            Drain();
            EXPECT_EQ(surface.Width(), widget.width() - CMyScrollBar::kWidth);
            EXPECT_EQ(surface.Height(), widget.height());
            EXPECT_EQ(viewport.Geometry().viewportWidth, surface.Width());
            EXPECT_EQ(viewport.Geometry().viewportHeight, surface.Height());
            // Fitted: the square image fills the shorter side.
            EXPECT_EQ(
                std::max(viewport.Geometry().displayedWidth, viewport.Geometry().displayedHeight),
                std::min(surface.Width(), surface.Height()));
            EXPECT_EQ(PaintedDifferences(widget), 0u) << size.width() << "x" << size.height();
        }
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
        CViewport2D& viewport = window.Viewport();
        ASSERT_TRUE(WaitFor([&] { return LoadedAndIdle(window); }));

        ClickRow(window.Tree(), RowOf(window, kPetUid));
        ASSERT_TRUE(WaitFor([&] { return LoadedAndIdle(window); }));
        ExpectShowsExactly(window, kPetUid);

        // Two choices in a row: the first load is dropped before it delivers anything.
        ClickRow(window.Tree(), RowOf(window, kCtUid));
        ClickRow(window.Tree(), RowOf(window, kPetUid));
        ASSERT_TRUE(WaitFor([&] { return LoadedAndIdle(window); }));
        Drain();
        ExpectShowsExactly(window, kPetUid);

        // Moving on while the long series is half loaded.
        ClickRow(window.Tree(), RowOf(window, longUid));
        ASSERT_TRUE(WaitFor([&] { return viewport.ImageCount() > 0; }));
        const bool midLoad = window.Loads().Loading();
        const size_t arrived = viewport.ImageCount() + viewport.PendingCount();
        ClickRow(window.Tree(), RowOf(window, kCtUid));
        ASSERT_TRUE(midLoad) << "the long load ended first: nothing was tested";
        EXPECT_LT(arrived, 600u);
        ASSERT_TRUE(WaitFor([&] { return LoadedAndIdle(window); }));
        // The queue runs one job at a time: the cancelled load returned, and its last
        // messages were delivered, before this load started. Anything still queued runs now.
        Drain();
        ExpectShowsExactly(window, kCtUid);
        EXPECT_EQ(window.Tree().currentItem(), RowOf(window, kCtUid));
    });
}

TEST(ViewportWindow, KeysMenuAndScrollBarDriveTheViewport) {
    const fs::path root = WriteSmallStudy("viewport-keys", 24);
    RunViewer({(root / "study").string()}, "viewport-keys-user", [&](CViewerApp& app) {
        CMainWindow& window = *app.MainWindow();
        ASSERT_TRUE(WaitFor([&] { return LoadedAndIdle(window); }));
        CViewportWidget& widget = window.ViewportWidget();
        CViewport2D& viewport = widget.Viewport();
        ASSERT_EQ(viewport.ImageCount(), 24u);

        // Keys reach the main window from the viewport that has the focus. (The first image
        // to arrive is the one shown, so start from a known one.)
        viewport.ShowImage(5, true, true);
        QTest::keyClick(&widget, Qt::Key_Down);
        EXPECT_EQ(viewport.CurrentIndex(), 6u);
        EXPECT_TRUE(StatusShows(window, "Image 7 / 24"));
        QTest::keyClick(&widget, Qt::Key_PageDown);
        EXPECT_EQ(viewport.CurrentIndex(), 16u);
        QTest::keyClick(&widget, Qt::Key_PageUp);
        EXPECT_EQ(viewport.CurrentIndex(), 6u);
        QTest::keyClick(&widget, Qt::Key_Up);
        EXPECT_EQ(viewport.CurrentIndex(), 5u);
        EXPECT_EQ(PaintedDifferences(widget), 0u);

        // Digits pick presets, on the main keyboard and the keypad.
        QTest::keyClick(&widget, Qt::Key_3);
        EXPECT_EQ(viewport.WindowTool().State().PresetId(), 3);
        EXPECT_FLOAT_EQ(viewport.Lut().Centre(), 300.0f);
        EXPECT_FLOAT_EQ(viewport.Lut().Width(), 600.0f);
        QTest::keyClick(&widget, Qt::Key_5, Qt::KeypadModifier);
        EXPECT_EQ(viewport.WindowTool().State().PresetId(), 5);
        EXPECT_FLOAT_EQ(viewport.Lut().Centre(), 40.0f);
        EXPECT_FLOAT_EQ(viewport.Lut().Width(), 80.0f);

        // F11 inverts every grey level of the image, and again restores it.
        viewport.SetLayerMask(0);  // the image alone
        const CViewportSurface& surface = viewport.Surface();
        const CViewportSurface before = surface;
        QTest::keyClick(&widget, Qt::Key_F11);
        EXPECT_TRUE(viewport.Negative());
        QAction* negative = MenuAction(window, "Negative");
        ASSERT_NE(negative, nullptr);
        EXPECT_TRUE(negative->isChecked());
        const ViewGeometry& geometry = viewport.Geometry();
        // Levels between pixels are interpolated after the look-up, so a level halfway
        // between two may round the same way both times: 128 stays 128 where 0 meets 255.
        size_t wrong = 0, inexact = 0, pixels = 0;
        for (int32_t y = geometry.visibleDestY;
             y < geometry.visibleDestY + geometry.visibleDestHeight; ++y) {
            for (int32_t x = geometry.visibleDestX;
                 x < geometry.visibleDestX + geometry.visibleDestWidth; ++x) {
                ++pixels;
                for (const int shift : {0, 8, 16}) {
                    const int now = int(surface.At(x, y) >> shift) & 0xFF;
                    const int was = int(before.At(x, y) >> shift) & 0xFF;
                    wrong += std::abs(now + was - 255) > 1;
                    inexact += now + was != 255;
                }
            }
        }
        EXPECT_EQ(wrong, 0u);
        EXPECT_LT(inexact, pixels / 100);
        EXPECT_EQ(PaintedDifferences(widget), 0u);
        QTest::keyClick(&widget, Qt::Key_F11);
        EXPECT_FALSE(viewport.Negative());
        EXPECT_FALSE(negative->isChecked());
        EXPECT_TRUE(std::equal(before.Pixels(), before.Pixels() + before.Width() * before.Height(),
                               surface.Pixels()));

        // The View menu.
        const float fitted = viewport.Geometry().zoom;
        MenuAction(window, "Zoom 400")->trigger();
        EXPECT_FLOAT_EQ(viewport.Geometry().zoom, 4.0f);
        MenuAction(window, "Actual size")->trigger();
        EXPECT_FLOAT_EQ(viewport.Geometry().zoom, 1.0f);
        MenuAction(window, "Fit to window")->trigger();
        EXPECT_FLOAT_EQ(viewport.Geometry().zoom, fitted);
        MenuAction(window, "Rotate 90\u00b0 clockwise")->trigger();
        EXPECT_EQ(viewport.Geometry().rotation, 90u);
        MenuAction(window, "Flip horizontal")->trigger();
        EXPECT_TRUE(viewport.Geometry().horizontalMirror || viewport.Geometry().verticalMirror);
        MenuAction(window, "Clear transformations")->trigger();
        EXPECT_EQ(viewport.Geometry().rotation, 0u);
        EXPECT_FALSE(viewport.Geometry().horizontalMirror || viewport.Geometry().verticalMirror);
        EXPECT_EQ(PaintedDifferences(widget), 0u);

        // The scroll bar: dragging the thumb browses the series both ways.
        CViewportScrollBarWidget& barWidget = widget.ScrollBarWidget();
        CMyScrollBar& bar = barWidget.Bar();
        ASSERT_TRUE(bar.Active());
        EXPECT_EQ(barWidget.geometry(), QRect(widget.width() - CMyScrollBar::kWidth, 0,
                                              CMyScrollBar::kWidth, widget.height()));
        const PixelRect thumb = bar.Thumb();
        ASSERT_FALSE(thumb.Empty());
        EXPECT_EQ(barWidget.grab().toImage().pixel(6, thumb.y + 2) & 0xFFFFFF,
                  CViewportScrollBarWidget::kThumbColour);
        QTest::mousePress(&barWidget, Qt::LeftButton, {}, QPoint(6, thumb.y + thumb.height / 2));
        EXPECT_TRUE(bar.Dragging());
        EXPECT_EQ(barWidget.grab().toImage().pixel(6, thumb.y + 2) & 0xFFFFFF,
                  CViewportScrollBarWidget::kThumbDragColour);
        QTest::mouseMove(&barWidget, QPoint(6, barWidget.height() - 1));
        EXPECT_EQ(viewport.CurrentIndex(), 23u);
        EXPECT_EQ(bar.Position(), 23);
        EXPECT_TRUE(StatusShows(window, "Image 24 / 24"));
        QTest::mouseMove(&barWidget, QPoint(6, barWidget.height() / 2));
        EXPECT_GT(viewport.CurrentIndex(), 5u);
        EXPECT_LT(viewport.CurrentIndex(), 18u);
        QTest::mouseMove(&barWidget, QPoint(6, 0));
        EXPECT_EQ(viewport.CurrentIndex(), 0u);
        QTest::mouseRelease(&barWidget, Qt::LeftButton, {}, QPoint(6, 0));
        EXPECT_FALSE(bar.Dragging());
        EXPECT_EQ(PaintedDifferences(widget), 0u);
        // A click below the thumb steps by one.
        QTest::mouseClick(&barWidget, Qt::LeftButton, {}, QPoint(6, barWidget.height() - 2));
        EXPECT_EQ(viewport.CurrentIndex(), 1u);
        // And the wheel browses too: a notch towards the user goes forward.
        QWheelEvent wheel(QPointF(50, 50), widget.mapToGlobal(QPointF(50, 50)), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&widget, &wheel);
        EXPECT_EQ(viewport.CurrentIndex(), 2u);
    });
}

}  // namespace
}  // namespace vexel
