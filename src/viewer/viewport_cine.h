// Cine playback of one viewport: steps through the series at the acquired or the chosen
// rate, measures the rate it delivers and corrects its timing by at most a fifth of the
// period, and keeps the rendered images in the memory cache while the view stays the same.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "viewer/cine_engine.h"
#include "viewer/view_geometry.h"
#include "viewer/viewport_tool.h"

namespace vexel {

class CBinaryValueMemCacher;
class CCineEngine;

class CViewport2DCine final : public CViewport2DTool, public ICinePlayer {
public:
    // Both may be null: the viewport then never plays, or plays without the cache.
    CViewport2DCine(CViewport2D& viewport, CCineEngine* engine, CBinaryValueMemCacher* cache);
    ~CViewport2DCine() override;

    // Plays when the viewport belongs to a panel and has at least two frames to show.
    bool Start();
    void Stop();
    uint64_t Advance() override;
    // A cleared viewport stops playing.
    void Reset() override { Stop(); }
    bool Playing() const { return m_playing; }

    // The rate the user chose is kept as given; one above 0 sets the period and plays every
    // frame for the same time. 0 goes back to the acquired rate.
    void SetRate(float rate);
    float UserRate() const { return m_userRate; }
    // The user's rate when set, else the acquired rate of the first image.
    float EffectiveRate() const;
    uint32_t Period() const { return m_period; }
    int32_t Correction() const { return m_correction; }
    float MeasuredRate() const { return m_measured; }
    float DisplayedRate() const { return m_displayed; }

    // The render cache, named "cine<n>" per tool. The viewport looks frames up under
    // CacheKey while Caching, and calls CacheStoreFailed when a store is refused.
    const std::string& CacheName() const { return m_cacheName; }
    bool Caching() const { return m_playing && !m_cannotCache && m_cache != nullptr; }
    // Drops the cached frames when the view changed since they were rendered; then Caching.
    bool CacheCurrent();
    std::string CacheKey(const void* frame) const;
    void CacheStoreFailed() { m_cannotCache = true; }
    uint32_t CacheDrops() const { return m_cacheDrops; }

private:
    // What decides the rendered pixels, apart from the frame itself.
    struct Snapshot {
        ViewGeometry geometry;
        float centre = 0;
        float width = 0;
        bool negative = false;
        friend bool operator==(const Snapshot&, const Snapshot&) = default;
    };

    Snapshot TakeSnapshot() const;
    void DropCache();
    bool CacheFits() const;
    void ResetTiming();
    // How long the frame now shown stays, in microseconds.
    uint32_t ShownFramePeriod();

    CCineEngine* m_engine;
    CBinaryValueMemCacher* m_cache;
    uint32_t m_panelId = 0;
    bool m_stopping = false;
    bool m_playing = false;
    uint64_t m_frameStart = 0;
    uint64_t m_previous = 0;
    float m_userRate = 0;
    float m_measured = 0;
    float m_displayed = 0;
    uint64_t m_lastDisplay = 0;
    uint32_t m_period = 0;
    int32_t m_correction = 0;
    Snapshot m_snapshot;
    std::string m_cacheName;
    bool m_cannotCache = false;
    uint32_t m_cacheDrops = 0;
    uint32_t m_restoreMode = 0;  // the annotation mode before playing
    // Per-frame intervals of the image they were read from, while the acquired rate plays.
    bool m_acquiredTiming = false;
    const void* m_intervalsOf = nullptr;
    std::vector<uint32_t> m_intervals;
};

}  // namespace vexel
