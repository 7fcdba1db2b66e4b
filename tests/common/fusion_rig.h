// The phantom CT and PET of one study, each opened into an on-screen viewport that reports its
// volumes and can fuse: what the fusion tests of the viewer and of export start from.
#pragma once

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>

#include "common/test_paths.h"
#include "engine/memory_services.h"
#include "engine/volume_manager.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "phantom/phantom_writer.h"
#include "platform/memory_load.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_2d.h"
#include "viewer/window_preset.h"
#include "volume/fusion_engine.h"
#include "volume/viewport_fusion.h"

namespace vexel::test {

class CNullViewportWindow final : public IViewportWindow {
public:
    void PresentSurface(const CViewportSurface&, const PixelRect*) override {}
};

struct FusionRig {
    CSystemMemoryLoad load;
    CMemoryServices memory{load};
    CVolumeManager volumes{nullptr, {}};
    CFusionEngine engine{nullptr, &volumes};
    CSeriesStateStore states;
    CWindowPresetTable presets;
    CNullViewportWindow window;

    // CT 128 x 128 x 160 of 1.6 mm pixels and 1.25 mm slices, PET at half the matrix; the
    // phantom's hot ball is centred at (40, 0, 0).
    static std::filesystem::path Study(const std::string& name, const std::string& uidRoot = {}) {
        phantom::PhantomOptions options;
        options.columns = options.rows = 128;
        options.pixelSpacingMm = 1.6;
        if (!uidRoot.empty()) options.uidRoot = uidRoot;
        const std::filesystem::path dir = ScratchDir(name);
        EXPECT_TRUE(phantom::WriteCtSeries(dir / "CT", options, nullptr));
        EXPECT_TRUE(phantom::WritePetSeries(dir / "PT", options, nullptr));
        return dir;
    }

    std::unique_ptr<CViewport2D> Open(const std::filesystem::path& dir) {
        ViewportServices services;
        services.states = &states;
        services.presets = &presets;
        services.volumes = &volumes;
        services.layerMask = kLayerFusion;  // the colour bar, no coloured annotation texts
        services.fusionTool = [this](CViewport2D& v) {
            return std::make_unique<CViewport2DFusion>(v, FusionServices{&engine, &volumes, {}});
        };
        auto viewport = std::make_unique<CViewport2D>(services);
        viewport->Create(window);
        viewport->SizeChanged(300, 300);
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            auto [file, status] = memory.Manager().Open(entry.path());
            if (CDicomImage* image = file ? CDicomImage::Of(*file) : nullptr)
                viewport->AddImage(std::move(file), *image, 0);
        }
        viewport->MergePendingImages();
        return viewport;
    }

    // Shows the slice nearest z = 0, through the hot ball's centre.
    static void ShowCentre(CViewport2D& viewport) {
        size_t through = 0;
        for (size_t i = 0; i < viewport.ImageCount(); ++i)
            if (std::fabs((*viewport.ImageAt(i)->Frame(0)->Position())[2]) <
                std::fabs((*viewport.ImageAt(through)->Frame(0)->Position())[2]))
                through = i;
        viewport.ShowImage(through, false, true);
    }
};

// Red where the PET is hot (the colour bar's own red aside, which callers leave out).
inline bool HotPixel(uint32_t pixel) {
    const int r = pixel >> 16 & 0xFF, g = pixel >> 8 & 0xFF, b = pixel & 0xFF;
    return r > g + 60 && r > b + 60;
}

}  // namespace vexel::test
