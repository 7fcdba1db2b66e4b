// Reference lines between viewports of one study, on the phantom's axial and coronal series:
// the line follows the active viewport and its image, lies where the coronal image meets the
// axial slice (checked by mapping its ends back into the patient), and goes with the source.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "common/test_paths.h"
#include "engine/memory_services.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "phantom/geometry_series.h"
#include "platform/memory_load.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_synchronizer.h"
#include "viewer/window_preset.h"
#include "volume/plane_geometry.h"
#include "volume/reference_line_manager.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

struct Fixture {
    CSystemMemoryLoad load;
    CMemoryServices memory{load};
    CSeriesStateStore states;
    CWindowPresetTable presets;
    std::map<uint32_t, CViewport2D*> byId;
    std::unique_ptr<CViewport2D> axial = Open(phantom::GeometryCase::kAxial);
    std::unique_ptr<CViewport2D> coronal = Open(phantom::GeometryCase::kCoronal);
    CReferenceLineManager lines{nullptr, {nullptr, [this](uint32_t id) {
                                              auto it = byId.find(id);
                                              return it == byId.end() ? nullptr : it->second;
                                          }}};

    std::unique_ptr<CViewport2D> Open(phantom::GeometryCase which) {
        const fs::path dir =
            test::ScratchDir(std::string("reference-lines-") + phantom::GeometryCaseName(which));
        std::string error;
        EXPECT_TRUE(phantom::WriteGeometrySeries(dir, phantom::GeometryCaseOptions(which), &error))
            << error;
        ViewportServices services;
        services.states = &states;
        services.presets = &presets;
        auto viewport = std::make_unique<CViewport2D>(services);
        viewport->CreateOffscreen(256, 256, ViewGeometry{});
        for (const auto& entry : fs::directory_iterator(dir)) {
            auto [file, status] = memory.Manager().Open(entry.path());
            CDicomImage* image = file ? CDicomImage::Of(*file) : nullptr;
            if (image != nullptr) viewport->AddImage(std::move(file), *image, 0);
        }
        viewport->MergePendingImages();
        byId[viewport->Id()] = viewport.get();
        return viewport;
    }
};

// Distance from the patient point under image point p of `image` to the plane of `slice`.
double DistanceToSlice(CDicomFrame& image, ImagePoint p, CDicomFrame& slice) {
    const PlaneGeometry g = *PlaneOf(image);
    const PlaneGeometry s = *PlaneOf(slice);
    Vector3 point;
    for (int i = 0; i < 3; ++i)
        point[i] = g.position[i] + (p.x - 0.5) * g.columnSpacing * g.row[i] +
                   (p.y - 0.5) * g.rowSpacing * g.column[i];
    const Vector3 n = {s.row[1] * s.column[2] - s.row[2] * s.column[1],
                       s.row[2] * s.column[0] - s.row[0] * s.column[2],
                       s.row[0] * s.column[1] - s.row[1] * s.column[0]};
    double distance = 0;
    for (int i = 0; i < 3; ++i)
        distance += (point[i] - s.position[i]) * n[i];
    return std::abs(distance);
}

TEST(ReferenceLineManager, TheActiveImageIsDrawnOnTheOtherViewportOfItsStudy) {
    Fixture f;
    ASSERT_GT(f.axial->ImageCount(), 10u);
    f.lines.Register(*f.axial);
    f.lines.Register(*f.coronal);
    EXPECT_FALSE(f.coronal->Synchronizer().ReferenceLineShown()) << "no active viewport yet";
    f.lines.Activate(*f.axial);
    for (const size_t slice : {size_t(10), f.axial->ImageCount() - 3}) {
        f.axial->ShowImage(slice, false, false);
        f.lines.ImageChanged(*f.axial);
        ASSERT_TRUE(f.coronal->Synchronizer().ReferenceLineShown());
        const auto [from, to] = f.coronal->Synchronizer().ReferenceLine();
        EXPECT_NEAR(from.y, to.y, 1e-3) << "horizontal";
        EXPECT_NEAR(std::abs(to.x - from.x), float(f.coronal->CurrentFrame()->Columns()), 1e-2);
        const double halfPixel = 0.5 * PlaneOf(*f.coronal->CurrentFrame())->rowSpacing;
        for (const ImagePoint end : {from, to})
            EXPECT_LT(DistanceToSlice(*f.coronal->CurrentFrame(), end, *f.axial->CurrentFrame()),
                      halfPixel);
        EXPECT_FALSE(f.axial->Synchronizer().ReferenceLineShown());
    }
    // The other panel becomes active: the lines swap sides.
    f.lines.Activate(*f.coronal);
    EXPECT_TRUE(f.axial->Synchronizer().ReferenceLineShown());
    EXPECT_FALSE(f.coronal->Synchronizer().ReferenceLineShown());
    // The active viewport is cleared: no line is left behind.
    f.lines.Unregister(f.coronal->Id());
    EXPECT_FALSE(f.axial->Synchronizer().ReferenceLineShown());
}

}  // namespace
}  // namespace vexel
