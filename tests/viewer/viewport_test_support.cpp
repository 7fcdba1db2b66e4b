#include "viewport_test_support.h"

namespace vexel::test {

std::vector<OpenedImage> OpenSeries(const std::vector<std::filesystem::path>& files) {
    std::vector<OpenedImage> opened;
    for (const auto& file : files)
        opened.push_back(OpenFile(file));
    return opened;
}

ViewportRig::ViewportRig(int32_t clientWidth, int32_t clientHeight, uint32_t threads) {
    ViewportServices services;
    services.states = &states;
    services.presets = &presets;
    services.resamplerThreads = threads;
    services.clock = [this] { return now; };
    viewport = std::make_unique<CViewport2D>(services);
    viewport->Create(window);
    viewport->SizeChanged(clientWidth, clientHeight);
}

}  // namespace vexel::test
