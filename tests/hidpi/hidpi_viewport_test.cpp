// The viewport widget at the device pixel ratio QT_SCALE_FACTOR sets (ctest runs this binary
// once per ratio): its surface is the widget's size in device pixels; what it shows equals
// `vexel render` at the zoom times the ratio; clicks on marker pixels put a length's ends on
// them, handles grab at the same distance on screen and the readout names the pixel; a move
// to a screen of another ratio renders at that ratio.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "app/viewport_widget.h"
#include "common/test_paths.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "imaging/dicom_image.h"
#include "measure/measurement_list.h"
#include "measure/measurement_records.h"
#include "phantom/phantom_writer.h"
#include "viewer/annotation_texts.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_annotations.h"
#include "viewer/viewport_measurements.h"
#include "viewer/window_preset.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

struct Phantom {
    // The file at `place` in name order of a phantom series of `side`² pixels.
    Phantom(const char* name, int side, size_t place, decltype(&phantom::WriteCtSeries) write) {
        phantom::PhantomOptions options;
        options.columns = options.rows = side;
        options.slices = 20;
        const fs::path folder = test::ScratchDir(std::string(name) + std::to_string(getpid()));
        std::string error;
        EXPECT_TRUE(write(folder, options, &error)) << error;
        std::vector<fs::path> paths{fs::directory_iterator(folder), fs::directory_iterator()};
        std::sort(paths.begin(), paths.end());
        path = paths.at(place);
        EXPECT_EQ(ReadDicomFile(file, path.string()), ReadStatus::Ok);
        image = CDicomImage::AttachTo(file, true);
    }
    fs::path path;
    CDicomFile file;
    CDicomImage* image = nullptr;
};

// A shown viewport widget of 300 x 300 logical pixels showing `shown`.
struct Window {
    Window(uint32_t layers, const Phantom& shown) {
        ViewportServices services;
        services.states = &states;
        services.presets = &presets;
        services.measurements = &lists;
        services.layerMask = layers;
        widget = std::make_unique<CViewportWidget>(services);
        widget->resize(300, 300);
        widget->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(widget.get()));
        if (const char* scale = std::getenv("QT_SCALE_FACTOR")) {
            EXPECT_DOUBLE_EQ(widget->devicePixelRatioF(), std::atof(scale));
        }
        ExpectSurfaceAtRatio(widget->devicePixelRatioF());
        Viewport().AddImage(CFileRef(), *shown.image, 0);
    }
    CViewport2D& Viewport() { return widget->Viewport(); }
    void ExpectSurfaceAtRatio(double ratio) {
        EXPECT_EQ(Viewport().Surface().Width(), std::lround((300 - CMyScrollBar::kWidth) * ratio));
        EXPECT_EQ(Viewport().Surface().Height(), std::lround(300 * ratio));
    }
    // What the widget shows, in device pixels, left of the scroll bar.
    QImage Shown() {
        return widget->grab()
            .toImage()
            .convertToFormat(QImage::Format_RGB32)
            .copy(0, 0, Viewport().Surface().Width(), Viewport().Surface().Height());
    }
    // Mouse events at logical positions through the widget's event handling: a hover at
    // `from`, a press there, two moves with the button down, the release at `to`.
    void Drag(QPointF from, QPointF to, bool hoverOnly = false) {
        using E = QEvent;
        const std::pair<E::Type, QPointF> steps[] = {{E::MouseMove, from},
                                                     {E::MouseButtonPress, from},
                                                     {E::MouseMove, (from + to) / 2},
                                                     {E::MouseMove, to},
                                                     {E::MouseButtonRelease, to}};
        for (size_t i = 0; i < (hoverOnly ? 1 : 5); ++i) {
            const auto [type, at] = steps[i];
            const bool down = i > 0 && i < 4;
            QMouseEvent event(type, at, widget->mapToGlobal(at),
                              type == E::MouseMove ? Qt::NoButton : Qt::LeftButton,
                              down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(widget.get(), &event);
        }
    }
    CSeriesStateStore states;
    CWindowPresetTable presets;
    CMeasurementLists lists;
    std::unique_ptr<CViewportWidget> widget;
};

void ExpectSamePixels(const QImage& shown, const QImage& expected) {
    ASSERT_EQ(shown.size(), expected.size());
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            ASSERT_EQ(shown.pixel(x, y) & 0xFFFFFF, expected.pixel(x, y) & 0xFFFFFF)
                << "pixel " << x << "," << y;
}

// The 512² image at logical zoom 1 is `vexel render --zoom <ratio>` of the same device size:
// drawn at device resolution, not enlarged from logical pixels.
TEST(HiDpi, ShownPictureIsTheRenderAtTheZoomTimesTheRatio) {
    const Phantom ct("hidpi-ct", 512, 10, phantom::WriteCtSeries);  // the middle slice
    Window window(0, ct);
    const double ratio = window.widget->devicePixelRatioF();
    window.Viewport().SetZoom(1.0f);
    EXPECT_FLOAT_EQ(window.Viewport().Geometry().zoom, float(ratio));
    const QImage shown = window.Shown();
    const fs::path png = test::ScratchDir("hidpi-render" + std::to_string(getpid())) / "r.png";
    int status = -1;
    const std::string output = test::RunCommand(
        test::Vexel() + " render " + test::Quote(ct.path) + " --out " + test::Quote(png) +
            " --no-layers --zoom " + std::to_string(ratio) + " --size " +
            std::to_string(shown.width()) + "x" + std::to_string(shown.height()),
        &status);
    ASSERT_EQ(status, 0) << output;
    // A body with inserts: a picture enlarged or moved would differ.
    ASSERT_GE(shown.convertToFormat(QImage::Format_Indexed8).colorCount(), 3);
    ExpectSamePixels(
        shown, QImage(QString::fromStdString(png.string())).convertToFormat(QImage::Format_RGB32));
}

// The logical position of the centre of the bright pixels shown within `reach` of `near`
// (device pixels): found in what the widget shows, not by the view's mapping.
QPointF MarkerAt(const QImage& shown, ScreenPoint near, int reach, double ratio) {
    double sum = 0, sx = 0, sy = 0;
    for (int y = std::max(0, near.y - reach); y <= near.y + reach && y < shown.height(); ++y)
        for (int x = std::max(0, near.x - reach); x <= near.x + reach && x < shown.width(); ++x)
            if (qGray(shown.pixel(x, y)) > 128) sum += 1, sx += x + 0.5, sy += y + 0.5;
    EXPECT_GT(sum, 0) << "no marker near " << near.x << "," << near.y;
    return sum > 0 ? QPointF(sx / sum / ratio, sy / sum / ratio) : QPointF();
}

TEST(HiDpi, ClicksLandOnThePixelUnderTheCursor) {
    const Phantom markers("hidpi-markers", 64, 0, phantom::WriteMarkerImage);
    Window window(kLayerAnnotations, markers);
    CViewport2D& viewport = window.Viewport();
    const double ratio = window.widget->devicePixelRatioF();
    viewport.Annotations().SetMode(AnnotationMode::Full);
    viewport.SetLeftTool(viewport.Measurements());
    viewport.Measurements().SetKind(MeasurementKind::Length);
    const auto stored = [&] {
        const auto bytes =
            window.states.Get(MeasurementKey(*markers.image, 0), StateRecord::kMeasurements);
        return bytes ? ReadRecords(*bytes) : std::vector<MeasurementRecord>{};
    };
    struct Case {
        float zoom;
        float pressFromEnd;  // logical pixels along the line; within 10 the end is grabbed
        bool grabsEnd;
    };
    for (const Case c : {Case{1, 8, true}, Case{2, 8, true}, Case{2, 14, false}, Case{3, 9, true},
                         Case{3, 14, false}}) {
        SCOPED_TRACE(testing::Message() << "zoom " << c.zoom << ", press " << c.pressFromEnd);
        viewport.SetZoom(c.zoom);
        viewport.SetLayerMask(kLayerAnnotations);  // only the markers and texts are bright
        const QImage shown = window.Shown();
        const int reach = int(std::ceil(c.zoom * ratio)) + 2;
        const QPointF a = MarkerAt(shown, *viewport.ImageToScreen(24.5f, 22.5f), reach, ratio);
        const QPointF b = MarkerAt(shown, *viewport.ImageToScreen(38.5f, 40.5f), reach, ratio);
        window.Drag(a, a, true);
        const std::string position = PositionText(viewport.Texts(), 24, 22);  // the readout
        EXPECT_TRUE(std::ranges::any_of(viewport.Annotations().ShownTexts(), [&](const auto& t) {
            return t.text.starts_with(position);
        })) << position;

        window.Drag(a, b);
        auto records = stored();
        ASSERT_EQ(records.size(), 1u);
        const MeasurementRecord drawn = records[0];
        EXPECT_EQ(std::floor(drawn.points[0].x), 24);
        EXPECT_EQ(std::floor(drawn.points[0].y), 22);
        EXPECT_EQ(std::floor(drawn.points[1].x), 38);
        EXPECT_EQ(std::floor(drawn.points[1].y), 40);

        // A drag of 10 logical pixels from a press on the line, near its end or not.
        viewport.SetLayerMask(kLayerAnnotations | kLayerMeasurements);
        const QPointF along = b - (b - a) * (c.pressFromEnd / std::hypot((b - a).x(), (b - a).y()));
        window.Drag(along, along + QPointF(10, 0));
        records = stored();
        ASSERT_EQ(records.size(), 1u);
        const float moved = 10.0f / c.zoom, slack = 0.5f / c.zoom + 1e-3f;
        EXPECT_NEAR(records[0].points[1].x - drawn.points[1].x, moved, slack);
        EXPECT_NEAR(records[0].points[0].x - drawn.points[0].x, c.grabsEnd ? 0 : moved, slack);
        EXPECT_TRUE(viewport.Measurements().DeleteAllInImage());
    }
}

// Run by ctest on two offscreen screens of ratios 1 and 2: the logical zoom is kept and the
// new surface is shown 1:1.
TEST(HiDpi, MovedToAScreenOfAnotherRatioRendersAtIt) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.size() < 2 || screens[0]->devicePixelRatio() == screens[1]->devicePixelRatio())
        GTEST_SKIP() << "needs two screens of different ratios";
    const Phantom markers("hidpi-screens", 64, 0, phantom::WriteMarkerImage);
    Window window(0, markers);
    window.Viewport().SetZoom(2.0f);
    for (QScreen* screen : {screens[1], screens[0], screens[1]}) {
        const double ratio = screen->devicePixelRatio();
        SCOPED_TRACE(testing::Message() << "ratio " << ratio);
        window.widget->windowHandle()->setScreen(screen);
        QTRY_COMPARE(window.widget->devicePixelRatioF(), ratio);
        QApplication::processEvents();
        window.ExpectSurfaceAtRatio(ratio);
        EXPECT_FLOAT_EQ(window.Viewport().Geometry().zoom, float(2 * ratio));
        const CViewportSurface& surface = window.Viewport().Surface();
        ExpectSamePixels(window.Shown(),
                         QImage(reinterpret_cast<const uchar*>(surface.Pixels()), surface.Width(),
                                surface.Height(), QImage::Format_RGB32));
    }
}

}  // namespace
}  // namespace vexel
