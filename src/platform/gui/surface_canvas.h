// The canvas over a caller's 32-bit pixels (QPainter on a QImage that wraps them; nothing is
// copied). The pixels must outlive the canvas.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/canvas.h"

namespace vexel {

// Null when the size is empty. `stride` counts pixels; `pixelRatio` is the surface's device
// pixels per logical pixel (pens, fonts and shadows scale with it).
std::unique_ptr<ICanvas> CreateSurfaceCanvas(uint32_t* pixels, int32_t width, int32_t height,
                                             size_t stride, float pixelRatio = 1.0f);

// Programs without a window system (the command line, tests, fuzz targets) call this before
// drawing text: it starts an off-screen Qt Gui application when the process has none. Call
// it on the main thread. True when text can be drawn.
bool EnsureGuiApplication();

// Call on the main thread before worker threads draw text: the font files and the shaping
// tables are set up here once, not by whichever drawing thread comes first.
void PrepareTextDrawing();

}  // namespace vexel
