// The viewport widget on a screen of the device pixel ratio set by QT_SCALE_FACTOR (ctest runs
// this binary once per ratio): what it shows equals `vexel render` at the zoom times the ratio
// pixel for pixel, clicks on marker pixels put measurement ends on those pixels, handles grab
// at the same distance on screen, and the readout names the pixel under the cursor.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>

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

double ExpectedRatio() {
    const char* scale = std::getenv("QT_SCALE_FACTOR");
    return scale != nullptr ? std::atof(scale) : 1.0;
}

std::string Tag() {
    return std::to_string(int(ExpectedRatio() * 10));
}

struct Opened {
    std::unique_ptr<CDicomFile> file = std::make_unique<CDicomFile>();
    CDicomImage* image = nullptr;
    fs::path path;
};

// The file at `place` in name order of what `write` made.
template <typename Write>
Opened FileOf(const std::string& name, const phantom::PhantomOptions& options, Write write,
              size_t place = 0) {
    const fs::path folder = test::ScratchDir(name + "-" + Tag());
    std::string error;
    EXPECT_TRUE(write(folder, options, &error)) << error;
    std::vector<fs::path> paths{fs::directory_iterator(folder), fs::directory_iterator()};
    std::sort(paths.begin(), paths.end());
    Opened opened;
    opened.path = paths.at(place);
    EXPECT_EQ(ReadDicomFile(*opened.file, opened.path.string()), ReadStatus::Ok);
    opened.image = CDicomImage::AttachTo(*opened.file, true);
    return opened;
}

// A shown viewport widget of 300 x 300 logical pixels (the scroll bar's strip included).
struct Window {
    explicit Window(uint32_t layers) {
        ViewportServices services;
        services.states = &states;
        services.presets = &presets;
        services.measurements = &lists;
        services.layerMask = layers;
        widget = std::make_unique<CViewportWidget>(services);
        widget->resize(300, 300);
        widget->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(widget.get()));
    }
    CViewport2D& Viewport() { return widget->Viewport(); }
    void Show(const Opened& opened) {
        Viewport().AddImage(CFileRef(), *opened.image, 0);
        Viewport().MergePendingImages();
    }
    // What the widget shows, in device pixels, left of the scroll bar.
    QImage Shown() {
        const QImage all = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const CViewportSurface& surface = Viewport().Surface();
        return all.copy(0, 0, surface.Width(), surface.Height());
    }
    // Real mouse events at logical positions, as Qt delivers them.
    void Mouse(QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, widget->mapToGlobal(at), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(widget.get(), &event);
    }
    void Drag(QPointF from, QPointF to) {
        Mouse(QEvent::MouseMove, from, Qt::NoButton);
        Mouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
        Mouse(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
        Mouse(QEvent::MouseMove, to, Qt::LeftButton);
        Mouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
    }
    CSeriesStateStore states;
    CWindowPresetTable presets;
    CMeasurementLists lists;
    std::unique_ptr<CViewportWidget> widget;
};

// The logical position of the centre of the bright pixels shown near `near` (device pixels):
// found in what the widget shows, not by the view's own mapping.
std::optional<QPointF> MarkerAt(const QImage& shown, ScreenPoint near, int reach, double ratio) {
    double sum = 0, sx = 0, sy = 0;
    for (int y = std::max(0, near.y - reach); y <= near.y + reach && y < shown.height(); ++y) {
        for (int x = std::max(0, near.x - reach); x <= near.x + reach && x < shown.width(); ++x) {
            const double level = qGray(shown.pixel(x, y)) > 128 ? 1 : 0;
            sum += level;
            sx += level * (x + 0.5);
            sy += level * (y + 0.5);
        }
    }
    if (sum <= 0) return std::nullopt;
    return QPointF(sx / sum / ratio, sy / sum / ratio);
}

TEST(HiDpi, TheScreenHasTheRatioAsked) {
    Window window(kAllLayers);
    EXPECT_DOUBLE_EQ(window.widget->devicePixelRatioF(), ExpectedRatio());
    const CViewportSurface& surface = window.Viewport().Surface();
    EXPECT_EQ(surface.Width(), std::lround((300 - CMyScrollBar::kWidth) * ExpectedRatio()));
    EXPECT_EQ(surface.Height(), std::lround(300 * ExpectedRatio()));
}

// The 512² image at logical zoom 1 is `vexel render --zoom <ratio>` of a surface of the same
// device size: drawn at device resolution, not enlarged from logical pixels.
TEST(HiDpi, ShownPictureIsTheRenderAtTheZoomTimesTheRatio) {
    const double ratio = ExpectedRatio();
    phantom::PhantomOptions options;
    options.columns = options.rows = 512;
    options.slices = 20;
    const Opened ct = FileOf("hidpi-ct", options, phantom::WriteCtSeries, 10);  // the middle
    Window window(0);
    window.Show(ct);
    window.Viewport().SetZoom(1.0f);
    EXPECT_FLOAT_EQ(window.Viewport().Geometry().zoom, float(ratio));
    const QImage shown = window.Shown();

    const fs::path png = test::ScratchDir("hidpi-render-" + Tag()) / "render.png";
    int status = -1;
    const std::string output = test::RunCommand(
        test::Vexel() + " render " + test::Quote(ct.path) + " --out " + test::Quote(png) +
            " --no-layers --zoom " + std::to_string(ratio) + " --size " +
            std::to_string(shown.width()) + "x" + std::to_string(shown.height()),
        &status);
    ASSERT_EQ(status, 0) << output;
    const QImage rendered = QImage(QString::fromStdString(png.string()))
                                .convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(rendered.size(), shown.size());
    // A body with inserts and smoothed edges: a picture enlarged or moved would differ.
    std::set<QRgb> levels;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) levels.insert(shown.pixel(x, y));
    ASSERT_GE(levels.size(), 3u) << "the picture has content to compare";
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            ASSERT_EQ(shown.pixel(x, y) & 0xFFFFFF, rendered.pixel(x, y) & 0xFFFFFF)
                << "pixel " << x << "," << y;
}

// Marker pixels clicked where they are seen: the length's ends are those pixels; a press 8
// logical pixels from an end grabs it, one 14 away moves the whole line; the readout names
// the pixel under the cursor.
TEST(HiDpi, ClicksLandOnThePixelUnderTheCursor) {
    const double ratio = ExpectedRatio();
    phantom::PhantomOptions options;
    options.columns = options.rows = 64;
    const Opened markers = FileOf("hidpi-markers", options, phantom::WriteMarkerImage);
    Window window(kLayerAnnotations);
    window.Show(markers);
    CViewport2D& viewport = window.Viewport();
    viewport.Annotations().SetMode(AnnotationMode::Full);
    viewport.SetLeftTool(viewport.Measurements());
    viewport.Measurements().SetKind(MeasurementKind::Length);
    const ImagePoint a{24.5f, 22.5f}, b{38.5f, 40.5f};
    const std::string key = MeasurementKey(*markers.image, 0);
    const auto stored = [&] {
        const auto bytes = window.states.Get(key, StateRecord::kMeasurements);
        return bytes ? ReadRecords(*bytes) : std::vector<MeasurementRecord>{};
    };
    struct Case {
        float zoom;
        float handleOffset;  // logical pixels from the end along the line
        bool grabsEnd;
    };
    for (const Case c : {Case{1, 8, true}, Case{2, 8, true}, Case{2, 14, false}, Case{3, 9, true},
                         Case{3, 14, false}}) {
        SCOPED_TRACE(testing::Message() << "zoom " << c.zoom << " press " << c.handleOffset);
        viewport.SetZoom(c.zoom);
        viewport.SetLayerMask(kLayerAnnotations);  // only the markers are bright
        const QImage shown = window.Shown();
        const int reach = int(std::ceil(c.zoom * ratio)) + 2;
        const auto from = MarkerAt(shown, *viewport.ImageToScreen(a.x, a.y), reach, ratio);
        const auto to = MarkerAt(shown, *viewport.ImageToScreen(b.x, b.y), reach, ratio);
        ASSERT_TRUE(from && to);
        // The readout names the pixel under the cursor.
        window.Mouse(QEvent::MouseMove, *from, Qt::NoButton);
        const std::vector<ShownAnnotation> texts = viewport.Annotations().ShownTexts();
        const std::string position = PositionText(viewport.Texts(), 24, 22);
        EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [&](const ShownAnnotation& t) {
            return t.text.rfind(position, 0) == 0;
        })) << position;

        window.Drag(*from, *to);
        auto records = stored();
        ASSERT_EQ(records.size(), 1u);
        const MeasurementRecord drawn = records[0];
        EXPECT_EQ(std::floor(drawn.points[0].x), 24);
        EXPECT_EQ(std::floor(drawn.points[0].y), 22);
        EXPECT_EQ(std::floor(drawn.points[1].x), 38);
        EXPECT_EQ(std::floor(drawn.points[1].y), 40);


        // A press along the line, near the end or not, and a drag of 10 logical pixels.
        viewport.SetLayerMask(kLayerAnnotations | kLayerMeasurements);
        const QPointF along = *to - (*to - *from) * (c.handleOffset / std::hypot((*to - *from).x(),
                                                                                (*to - *from).y()));
        window.Drag(along, along + QPointF(10, 0));
        records = stored();
        ASSERT_EQ(records.size(), 1u);
        const float moved = 10.0f / c.zoom;
        EXPECT_NEAR(records[0].points[1].x - drawn.points[1].x, moved, 0.5f / c.zoom + 1e-3f);
        EXPECT_NEAR(records[0].points[0].x - drawn.points[0].x, c.grabsEnd ? 0 : moved,
                    0.5f / c.zoom + 1e-3f);
        EXPECT_TRUE(viewport.Measurements().DeleteAllInImage());
    }
}

// Two screens of ratio 1 and 2 (ctest gives the offscreen platform such a configuration): a
// viewport moved to the other screen renders at its ratio, keeping the logical zoom, and shows
// its new surface 1:1.
TEST(HiDpi, MovedToAScreenOfAnotherRatioRendersAtIt) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.size() < 2 || screens[0]->devicePixelRatio() == screens[1]->devicePixelRatio())
        GTEST_SKIP() << "needs two screens of different ratios";
    phantom::PhantomOptions options;
    options.columns = options.rows = 64;
    const Opened markers = FileOf("hidpi-screens", options, phantom::WriteMarkerImage);
    Window window(0);
    window.Show(markers);
    window.Viewport().SetZoom(2.0f);
    for (QScreen* screen : {screens[1], screens[0], screens[1]}) {
        const double ratio = screen->devicePixelRatio();
        SCOPED_TRACE(testing::Message() << "ratio " << ratio);
        window.widget->windowHandle()->setScreen(screen);
        QTRY_COMPARE(window.widget->devicePixelRatioF(), ratio);
        QApplication::processEvents();
        const CViewportSurface& surface = window.Viewport().Surface();
        EXPECT_EQ(surface.Width(), std::lround((300 - CMyScrollBar::kWidth) * ratio));
        EXPECT_EQ(surface.Height(), std::lround(300 * ratio));
        EXPECT_FLOAT_EQ(window.Viewport().Geometry().zoom, float(2 * ratio));
        const QImage shown = window.Shown();
        ASSERT_EQ(shown.width(), surface.Width());
        for (int y = 0; y < surface.Height(); ++y)
            for (int x = 0; x < surface.Width(); ++x)
                ASSERT_EQ(shown.pixel(x, y) & 0xFFFFFF, surface.Pixels()[size_t(y) * surface.Width() + x])
                    << "pixel " << x << "," << y;
    }
}

}  // namespace
}  // namespace vexel
