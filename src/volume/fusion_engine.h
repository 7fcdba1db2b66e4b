// The fused pairs of viewports: the series of an overlay viewport (PET) drawn over a base
// viewport (CT) of the same study and frame of reference, slice by slice.
//
// Fusion starts only with a parallel volume in another viewport, which the volume manager
// finds within one study and one named frame of reference; otherwise the reason comes back
// and nothing changes. A pair ends when either viewport is cleared or goes, so a base never
// keeps an overlay that is gone. A window change in the overlay viewport redraws its bases.
//
// Threads: the user-interface thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "viewer/viewer_texts.h"

namespace vexel {

class CVexelEngine;
class CViewport2D;
class CVolumeManager;

struct FusionPair {
    uint32_t base = 0;
    uint32_t overlay = 0;
};

class CFusionEngine {
public:
    // Subscribes to the viewport events of `engine` (null: none; call the methods directly).
    // `text` looks up the reasons fusion cannot start (empty: English).
    CFusionEngine(CVexelEngine* engine, CVolumeManager* volumes, TextLookup text = {});
    ~CFusionEngine();
    CFusionEngine(const CFusionEngine&) = delete;
    CFusionEngine& operator=(const CFusionEngine&) = delete;

    // Starts fusion on the viewport, or stops it; empty, or why it could not start.
    std::string Toggle(CViewport2D& viewport);
    std::string Start(CViewport2D& viewport);
    void Stop(uint32_t baseViewportId);
    bool IsFused(uint32_t baseViewportId) const;
    const std::vector<FusionPair>& Pairs() const { return m_pairs; }

    // A viewport is about to be cleared, or goes: every pair it is part of ends.
    void ViewportCleared(uint32_t viewportId);
    // The window of a panel changed: the bases it is fused over are drawn again.
    void WindowChanged(uint32_t panelId);

private:
    static uint32_t OnViewportEvent(uint32_t code, uint64_t payload, void* context);
    void Redraw(uint32_t baseViewportId);

    CVexelEngine* m_engine;
    CVolumeManager* m_volumes;
    TextLookup m_text;
    uint32_t m_cookie = 0;
    std::vector<FusionPair> m_pairs;
};

}  // namespace vexel
