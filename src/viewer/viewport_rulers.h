// Scale rulers: 100 mm along the bottom edge and along the left edge, ticks every 10 mm and
// long ticks every 50 mm. Nothing without a usable Pixel Spacing.
#pragma once

#include "viewer/viewport_tool.h"

namespace vexel {

class CViewport2DRulers final : public CViewport2DTool {
public:
    explicit CViewport2DRulers(CViewport2D& viewport)
        : CViewport2DTool(viewport, ToolType::Rulers) {}
    void Draw(ICanvas& canvas, const PixelRect* clip) override;
};

}  // namespace vexel
