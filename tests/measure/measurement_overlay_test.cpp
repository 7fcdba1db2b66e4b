// Measurements made with the mouse on real viewports: lengths clicked on marker pixels at
// every view land within a screen pixel of the true distance, lists are shared per frame by
// the viewports showing it and stored on every change, and creation follows its rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>

#include "common/test_paths.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "imaging/dicom_image.h"
#include "measure/measurement_list.h"
#include "phantom/phantom_writer.h"
#include "platform/gui/surface_canvas.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_measurements.h"
#include "viewer/window_preset.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

struct Opened {
    std::unique_ptr<CDicomFile> file = std::make_unique<CDicomFile>();
    CDicomImage* image = nullptr;
};

// Every file of a phantom series written by `write`, opened in name order.
template <typename Write>
std::vector<Opened> Phantom(const std::string& name, const phantom::PhantomOptions& options,
                            Write write) {
    const fs::path folder = test::ScratchDir(name);
    std::string error;
    EXPECT_TRUE(write(folder, options, &error)) << error;
    std::vector<fs::path> paths{fs::directory_iterator(folder), fs::directory_iterator()};
    std::sort(paths.begin(), paths.end());
    std::vector<Opened> opened(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(ReadDicomFile(*opened[i].file, paths[i].string()), ReadStatus::Ok);
        opened[i].image = CDicomImage::AttachTo(*opened[i].file, true);
    }
    return opened;
}

struct NoWindow final : IViewportWindow {
    void PresentSurface(const CViewportSurface&, const PixelRect*) override {}
};

// An on-screen viewport whose left button measures, sharing the store and lists given.
struct Panel {
    Panel(CSeriesStateStore& states, CMeasurementLists& lists, uint32_t layers = kAllLayers) {
        ViewportServices services;
        services.states = &states;
        services.presets = &presets;
        services.measurements = &lists;
        services.layerMask = layers;
        viewport = std::make_unique<CViewport2D>(services);
        viewport->Create(window);
        viewport->SizeChanged(300, 300);
        viewport->SetLeftTool(viewport->Measurements());
    }
    void Show(const std::vector<Opened>& series) {
        for (const Opened& opened : series)
            viewport->AddImage(CFileRef(), *opened.image, 0);
        viewport->MergePendingImages();
    }
    void Drag(ScreenPoint from, ScreenPoint to, MeasurementKind kind = MeasurementKind::Length) {
        viewport->Measurements().SetKind(kind);
        viewport->MouseDown(from.x, from.y, MouseButton::Left);
        viewport->MouseMove((from.x + to.x) / 2, (from.y + to.y) / 2);
        viewport->MouseMove(to.x, to.y);
        viewport->MouseUp(to.x, to.y, MouseButton::Left);
    }
    CWindowPresetTable presets;
    NoWindow window;
    std::unique_ptr<CViewport2D> viewport;
};

std::vector<MeasurementRecord> Stored(const CSeriesStateStore& states, const CDicomImage& image,
                                      size_t frame = 0) {
    const auto bytes = states.Get(MeasurementKey(image, frame), StateRecord::kMeasurements);
    return bytes ? ReadRecords(*bytes) : std::vector<MeasurementRecord>{};
}

// The centroid of the bright pixels drawn within `reach` of `near`: where the marker shows.
std::optional<ScreenPoint> MarkerOnScreen(const CViewportSurface& surface, ScreenPoint near,
                                          int reach) {
    double sum = 0, sx = 0, sy = 0;
    for (int y = near.y - reach; y <= near.y + reach; ++y) {
        for (int x = near.x - reach; x <= near.x + reach; ++x) {
            if (x < 0 || y < 0 || x >= surface.Width() || y >= surface.Height()) continue;
            const double level = surface.Pixels()[size_t(y) * size_t(surface.Width()) + size_t(x)] & 0xFF;
            sum += level;
            sx += level * (x + 0.5);
            sy += level * (y + 0.5);
        }
    }
    if (sum <= 0) return std::nullopt;
    return ScreenPoint{int(std::floor(sx / sum)), int(std::floor(sy / sum))};
}

TEST(MeasurementOverlay, LengthsClickedOnMarkersAtEveryViewMatchTheDistance) {
    ASSERT_TRUE(EnsureGuiApplication());
    struct Spacing {
        double row, column;
    };
    for (const Spacing spacing : {Spacing{0.5, 0.5}, Spacing{1.0, 0.5}, Spacing{0.3, 0.7}}) {
        phantom::PhantomOptions options;
        options.columns = options.rows = 64;
        options.pixelSpacingMm = spacing.column;
        options.rowSpacingMm = spacing.row;
        const auto series = Phantom("measure-markers", options, phantom::WriteMarkerImage);
        // Two markers of the grid near the middle, 14 columns and 18 rows apart.
        const ImagePoint a{24.5f, 22.5f}, b{38.5f, 40.5f};
        const double expected = std::hypot(14 * spacing.column, 18 * spacing.row);
        // Set in image coordinates: the spacing read back in its order, rows then columns.
        EXPECT_NEAR(LengthOf(a, b, CalibrationOf(*series[0].image)), expected, 0.05);
        CSeriesStateStore states;
        CMeasurementLists lists;
        Panel panel(states, lists, 0);  // no layers: only the markers are bright
        panel.Show(series);
        CViewport2D& viewport = *panel.viewport;
        for (const uint32_t rotation : {0u, 90u, 180u, 270u}) {
            for (const int flip : {0, 1, 2}) {
                for (const float zoom : {1.0f, 2.0f, 4.0f, 8.0f}) {
                    SCOPED_TRACE(testing::Message() << spacing.row << "\\" << spacing.column << " at "
                                                    << rotation << " flip " << flip << " zoom " << zoom);
                    viewport.Transform(0, false, false, true);
                    viewport.Transform(int32_t(rotation), flip == 1, flip == 2, false);
                    viewport.SetZoom(zoom);
                    const int reach = int(zoom) + 2;
                    const auto from = MarkerOnScreen(viewport.Surface(), *viewport.ImageToScreen(a.x, a.y), reach);
                    const auto to = MarkerOnScreen(viewport.Surface(), *viewport.ImageToScreen(b.x, b.y), reach);
                    ASSERT_TRUE(from && to);
                    panel.Drag(*from, *to);
                    const auto records = Stored(states, *series[0].image);
                    ASSERT_EQ(records.size(), 1u);
                    const Calibration calibration = CalibrationOf(*series[0].image);
                    const double length = LengthOf(records[0].points[0], records[0].points[1], calibration);
                    EXPECT_NEAR(length, expected, std::max(spacing.row, spacing.column) / zoom);
                    // A click stands for the centre of its pixel: exact where a screen pixel
                    // shows one image pixel.
                    const double off = zoom == 1 ? 1e-3 : 0.5 / zoom + 1e-4;
                    EXPECT_NEAR(records[0].points[0].x, a.x, off);
                    EXPECT_NEAR(records[0].points[0].y, a.y, off);
                    EXPECT_TRUE(viewport.Measurements().DeleteAllInImage());
                }
            }
        }
    }
}

class MeasurementPanels : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(EnsureGuiApplication());
        phantom::PhantomOptions options;
        options.columns = options.rows = 64;
        options.slices = 2;
        series = Phantom("measure-ct", options, phantom::WriteCtSeries);
    }
    CSeriesStateStore states;
    CMeasurementLists lists;
    std::vector<Opened> series;
};

// Two panels show one image: what one draws, edits and deletes is what the store holds, and
// closing either brings nothing back that was deleted.
TEST_F(MeasurementPanels, PanelsShareOneListPerFrameAndStoreEveryChange) {
    Panel first(states, lists), second(states, lists);
    first.Show(series);
    second.Show(series);
    const CViewportSurface& shown = second.viewport->Surface();
    const std::vector<uint32_t> before(shown.Pixels(),
                                       shown.Pixels() + size_t(shown.Width()) * size_t(shown.Height()));
    first.Drag({100, 100}, {180, 140});
    ASSERT_EQ(Stored(states, *series[0].image).size(), 1u);
    EXPECT_TRUE(Stored(states, *series[1].image).empty()) << "lists are per frame";
    EXPECT_FALSE(std::equal(before.begin(), before.end(), shown.Pixels()))
        << "the other panel shows the new length";

    // The middle of the line moves both ends by the image offset of the drag.
    const MeasurementRecord drawn = Stored(states, *series[0].image)[0];
    const auto press = *second.viewport->ImageToScreen((drawn.points[0].x + drawn.points[1].x) / 2,
                                                       (drawn.points[0].y + drawn.points[1].y) / 2);
    second.viewport->MouseMove(press.x, press.y);  // hovers
    second.viewport->MouseDown(press.x, press.y, MouseButton::Left);
    second.viewport->MouseMove(press.x + 20, press.y - 10);
    second.viewport->MouseUp(press.x + 20, press.y - 10, MouseButton::Left);
    const auto moved = Stored(states, *series[0].image);
    ASSERT_EQ(moved.size(), 1u);
    const float zoom = second.viewport->Geometry().zoom;
    for (int i = 0; i < 2; ++i) {
        EXPECT_NEAR(moved[0].points[i].x - drawn.points[i].x, 20 / zoom, 1e-4);
        EXPECT_NEAR(moved[0].points[i].y - drawn.points[i].y, -10 / zoom, 1e-4);
    }

    second.viewport->Clear(true);
    EXPECT_EQ(Stored(states, *series[0].image), moved) << "closing one panel keeps the length";
    EXPECT_TRUE(first.viewport->Measurements().DeleteAllInImage());
    second.Show(series);
    EXPECT_TRUE(Stored(states, *series[0].image).empty()) << "a deleted length came back";

    // Del deletes the selected one, Ctrl+Shift+Del every one of the series.
    first.Drag({60, 60}, {90, 60});
    first.Drag({60, 200}, {90, 230});
    // Hovered, pressed and released, the second one is selected.
    first.viewport->MouseMove(75, 215);
    first.viewport->MouseDown(75, 215, MouseButton::Left);
    first.viewport->MouseUp(75, 215, MouseButton::Left);
    EXPECT_TRUE(first.viewport->Measurements().DeleteSelected());
    EXPECT_EQ(Stored(states, *series[0].image).size(), 1u);
    first.viewport->ShowImage(1, false, true);
    first.Drag({60, 60}, {90, 60}, MeasurementKind::Ellipse);
    EXPECT_EQ(Stored(states, *series[1].image).size(), 1u);
    EXPECT_TRUE(first.viewport->Measurements().DeleteAllInSeries());
    EXPECT_TRUE(Stored(states, *series[0].image).empty() && Stored(states, *series[1].image).empty());
}

TEST_F(MeasurementPanels, CreationNeedsMovementAndEndsWithTheFrame) {
    Panel panel(states, lists), other(states, lists);  // the other keeps the list alive
    panel.Show(series);
    other.Show(series);
    CViewport2D& viewport = *panel.viewport;
    viewport.MouseDown(100, 100, MouseButton::Left);
    viewport.MouseUp(100, 100, MouseButton::Left);
    EXPECT_TRUE(Stored(states, *series[0].image).empty()) << "a click alone makes nothing";

    // An angle waits for its third point after the first release; a frame change drops it.
    panel.Drag({100, 100}, {150, 100}, MeasurementKind::Angle);
    viewport.MouseMove(150, 150);
    EXPECT_TRUE(viewport.DragInProgress()) << "the angle is still being made";
    viewport.ShowImage(1, false, true);
    EXPECT_FALSE(viewport.DragInProgress());
    viewport.ShowImage(0, false, true);
    viewport.MouseDown(150, 150, MouseButton::Left);
    viewport.MouseUp(150, 150, MouseButton::Left);
    EXPECT_TRUE(Stored(states, *series[0].image).empty()) << "the dropped angle was finished";

    // Finished, with a click that wobbles a pixel: one angle of 90 degrees and nothing more.
    panel.Drag({100, 100}, {150, 100}, MeasurementKind::Angle);
    viewport.MouseMove(150, 150);
    viewport.MouseDown(150, 150, MouseButton::Left);
    viewport.MouseMove(151, 150);
    viewport.MouseUp(151, 150, MouseButton::Left);
    auto records = Stored(states, *series[0].image);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, MeasurementKind::Angle);
    const auto degrees = AngleAt(records[0].points[0], records[0].points[1], records[0].points[2],
                                 CalibrationOf(*series[0].image));
    EXPECT_NEAR(*degrees, 90, 1.5);

    // Escape drops a Cobb angle between its two lines; a pencil keeps every position.
    panel.Drag({50, 200}, {120, 180}, MeasurementKind::Cobb);
    EXPECT_TRUE(viewport.Measurements().Escape());
    EXPECT_FALSE(viewport.DragInProgress());
    panel.Drag({50, 250}, {120, 260}, MeasurementKind::Pencil);
    records = Stored(states, *series[0].image);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].kind, MeasurementKind::Pencil);
    EXPECT_EQ(records[1].points.size(), 3u);
}

}  // namespace
}  // namespace vexel
