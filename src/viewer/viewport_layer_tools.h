// The tools whose layers and interactions come with later features. Each already holds its
// place in the viewport's tool chain and layer order, so adding one changes nothing else.
#pragma once

#include "viewer/viewport_tool.h"

namespace vexel {

// The fused series drawn over this one (layer bit 4).
class CViewport2DFusion final : public CViewport2DTool {
public:
    explicit CViewport2DFusion(CViewport2D& viewport) : CViewport2DTool(viewport, ToolType::None) {}
};

}  // namespace vexel
