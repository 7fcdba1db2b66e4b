// The viewer as a user drives it: Space brings up the cine window with the loop's acquired
// rate, Start plays through the real timing thread and UI loop, a stop made elsewhere shows
// on the button, F12 is remembered, and the wheel browses by whole notches.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QWheelEvent>

#include "app/cine_wnd.h"
#include "app/main_window.h"
#include "app/options.h"
#include "app/series_load_controller.h"
#include "app/viewport_widget.h"
#include "viewer/viewport_annotations.h"
#include "viewer/viewport_cine.h"
#include "viewer_run.h"

namespace vexel::test {
namespace {

void Wheel(QWidget& widget, int delta) {
    QWheelEvent event({10, 10}, widget.mapToGlobal(QPointF(10, 10)), {}, {0, delta}, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&widget, &event);
}

void DriveCine(CViewerApp& app) {
    CMainWindow& window = *app.MainWindow();
    CViewport2D& viewport = window.Viewport();
    ASSERT_TRUE(WaitFor([&] { return viewport.BrowseCount() == 30 && !window.Loads().Loading(); }));
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

    // Eight touchpad deltas of 15 make one notch back; a notch of 120 goes back one more.
    viewport.ShowBrowsePosition(10, false, true);
    for (int i = 0; i < 7; ++i)
        Wheel(window.ViewportWidget(), 15);
    EXPECT_EQ(viewport.BrowsePosition(), 10u);
    Wheel(window.ViewportWidget(), 15);
    EXPECT_EQ(viewport.BrowsePosition(), 9u);
    Wheel(window.ViewportWidget(), 120);
    EXPECT_EQ(viewport.BrowsePosition(), 8u);
}

TEST(CineWindow, SpaceStartStopF12AndWheelNotches) {
    VEXEL_REQUIRE_TESTDATA();
    RunViewer({(TestDataDir() / "pydicom/test_files/examples_ybr_color.dcm").string()},
              "cine_window", DriveCine);
}

}  // namespace
}  // namespace vexel::test
