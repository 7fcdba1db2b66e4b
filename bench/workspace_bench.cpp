// Sixteen panels (4 x 4) showing a 512 x 512 CT slice, the workspace resized between two
// sizes: the grid's layout, every panel's viewport laid out again and rendered, against
// sixteen lone viewports of the same cell size resized one by one. Goal: within 1.1x.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/viewer_wnd_manager.h"
#include "app/workspace.h"
#include "app/workspace_panel.h"
#include "bench_corpus.h"
#include "engine/memory_services.h"
#include "engine/study_model.h"
#include "imaging/dicom_image.h"
#include "platform/memory_load.h"
#include "viewer/series_state_store.h"
#include "viewer/window_preset.h"
#include "qt_bench_main.h"

namespace vexel {
namespace {

constexpr int kPanels = 16;
// Two workspace sizes and the panel cells they give (the header and the border come off).
constexpr int kSizes[2][2] = {{1600, 1200}, {1440, 1040}};

struct NoWindow final : IViewportWindow {
    void PresentSurface(const CViewportSurface&, const PixelRect*) override {}
};

struct Slice {
    CSystemMemoryLoad load;
    CMemoryServices memory{load};
    CFileRef file;
    CDicomImage* image = nullptr;
    Slice() {
        std::string error;
        const auto paths = bench::EnsureCtCorpus(VEXEL_BENCH_DATA_DIR, {1, 512, 512}, &error);
        if (paths.empty()) std::fprintf(stderr, "corpus: %s\n", error.c_str());
        auto [opened, status] = memory.Manager().Open(paths.at(0));
        file = std::move(opened);
        image = CDicomImage::Of(*file);
        image->DecodeAllIdleFrames();
    }
};

void BM_Workspace16Resize(benchmark::State& state) {
    Slice slice;
    CSeriesStateStore states;
    CWindowPresetTable presets;
    StudyModel model;
    CViewerWndManager windows;
    WorkspaceServices services;
    services.viewport.states = &states;
    services.viewport.presets = &presets;
    services.model = &model;
    services.windows = &windows;
    CWorkspace workspace(services, nullptr);
    workspace.resize(kSizes[0][0], kSizes[0][1]);
    workspace.show();
    workspace.SetGrid(4, 4);
    for (CWorkspacePanel* panel : workspace.Panels())
        panel->Viewport().AddImage(CFileRef(), *slice.image, 0);
    int flip = 0;
    for (auto _ : state) {
        flip ^= 1;
        workspace.resize(kSizes[flip][0], kSizes[flip][1]);
    }
}

void BM_Single16Resize(benchmark::State& state) {
    Slice slice;
    CSeriesStateStore states;
    CWindowPresetTable presets;
    std::vector<std::unique_ptr<CViewport2D>> viewports;
    NoWindow window;
    ViewportServices services;
    services.states = &states;
    services.presets = &presets;
    for (int i = 0; i < kPanels; ++i) {
        viewports.push_back(std::make_unique<CViewport2D>(services));
        viewports.back()->Create(window);
        viewports.back()->SizeChanged(kSizes[0][0] / 4 - 2, kSizes[0][1] / 4 - CWorkspacePanel::kHeaderHeight - 1);
        viewports.back()->AddImage(CFileRef(), *slice.image, 0);
    }
    int flip = 0;
    for (auto _ : state) {
        flip ^= 1;
        for (auto& viewport : viewports)
            viewport->SizeChanged(kSizes[flip][0] / 4 - 2,
                                  kSizes[flip][1] / 4 - CWorkspacePanel::kHeaderHeight - 1);
    }
}

BENCHMARK(BM_Workspace16Resize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Single16Resize)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vexel

VEXEL_QT_BENCHMARK_MAIN()
