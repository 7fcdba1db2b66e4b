// A viewport on a recording window, and the images of the phantom series opened in memory.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "viewer/series_state_store.h"
#include "viewer/viewport_2d.h"
#include "viewer/window_preset.h"
#include "viewer_test_images.h"

namespace vexel::test {

class CRecordingWindow final : public IViewportWindow {
public:
    void PresentSurface(const CViewportSurface&, const PixelRect* rect) override {
        ++presents;
        if (rect == nullptr) ++wholePresents;
    }
    int presents = 0;
    int wholePresents = 0;
};

// Opens every file of a series (kept alive by the returned objects).
std::vector<OpenedImage> OpenSeries(const std::vector<std::filesystem::path>& files);

// A viewport on screen (a recording window) of the given client size, with a clock the test
// moves by hand.
struct ViewportRig {
    explicit ViewportRig(int32_t clientWidth = 212, int32_t clientHeight = 200,
                         uint32_t threads = 2);

    void Advance(std::chrono::milliseconds step) { now += step; }
    // Adds without a file reference: the test keeps the files open.
    bool Add(const OpenedImage& opened, uint32_t generation = 0) {
        return viewport->AddImage(CFileRef(), *opened.image, generation);
    }

    CSeriesStateStore states;
    CWindowPresetTable presets;
    CRecordingWindow window;
    std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
    std::unique_ptr<CViewport2D> viewport;
};

}  // namespace vexel::test
