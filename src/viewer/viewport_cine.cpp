#include "viewer/viewport_cine.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "imaging/binary_value_mem_cacher.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "viewer/cine_rate.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_annotations.h"
#include "viewer/viewport_view_tools.h"

namespace vexel {
namespace {

constexpr uint64_t kRateDisplayUs = 2000000;
constexpr float kRateTolerance = 0.2f;
constexpr int32_t kNextImage = -120;  // one wheel notch towards the user

std::atomic<uint32_t> g_lastCineNumber{0};

}  // namespace

CViewport2DCine::CViewport2DCine(CViewport2D& viewport, CCineEngine* engine,
                                 CBinaryValueMemCacher* cache)
    : CViewport2DTool(viewport, ToolType::Cine),
      m_engine(engine),
      m_cache(cache),
      m_cacheName("cine" + std::to_string(++g_lastCineNumber)) {}

CViewport2DCine::~CViewport2DCine() {
    if (m_engine != nullptr && m_panelId != 0) m_engine->StopCine(m_panelId);
    if (m_cache != nullptr) m_cache->Remove(m_cacheName);
}

float CViewport2DCine::EffectiveRate() const {
    if (m_userRate > 0) return std::clamp(m_userRate, kMinCineRate, kMaxCineRate);
    CDicomImage* first = m_viewport.ImageAt(0);
    return first != nullptr ? AcquiredFrameRate(first->File()) : kDefaultCineRate;
}

void CViewport2DCine::SetRate(float rate) {
    m_userRate = rate;
    if (!(rate > 0)) return;
    m_period = PeriodOf(std::clamp(rate, kMinCineRate, kMaxCineRate));
    m_acquiredTiming = false;
}

bool CViewport2DCine::Start() {
    if (m_playing || m_engine == nullptr || m_viewport.Offscreen() || m_viewport.PanelId() == 0 ||
        m_viewport.BrowseCount() < 2) {
        return false;
    }
    // The period is always set, whatever the user typed, so a rate of 0 never plays flat out.
    const float rate = EffectiveRate();
    m_period = PeriodOf(rate);
    m_acquiredTiming = !(m_userRate > 0);
    m_intervalsOf = nullptr;
    m_snapshot = TakeSnapshot();
    m_cannotCache = !CacheFits();
    CViewport2DAnnotations& annotations = m_viewport.Annotations();
    m_restoreMode = uint32_t(annotations.Mode());
    annotations.SetMode(AnnotationMode::Cine);
    annotations.SetFrameRate(rate, true);
    ResetTiming();
    m_playing = true;
    m_panelId = m_viewport.PanelId();
    m_engine->StartCine(m_panelId, rate);
    m_viewport.NotifyCineChanged(true);
    return true;
}

void CViewport2DCine::Stop() {
    m_stopping = true;
    if (m_engine != nullptr && m_panelId != 0) m_engine->StopCine(m_panelId);
    if (!m_playing) {
        m_stopping = false;
        return;
    }
    m_playing = false;
    CViewport2DAnnotations& annotations = m_viewport.Annotations();
    annotations.SetFrameRate(0, false);
    ResetTiming();
    m_viewport.NotifyCineChanged(false);
    annotations.SetMode(AnnotationMode(m_restoreMode));
    if (Frame() != nullptr) annotations.FrameChanged(Frame());
    m_viewport.RenderComposePresent();
    DropCache();
    m_stopping = false;
}

void CViewport2DCine::ResetTiming() {
    m_frameStart = m_previous = m_lastDisplay = 0;
    m_measured = m_displayed = 0;
    m_correction = 0;
}

uint64_t CViewport2DCine::Advance() {
    if (!m_playing || m_stopping) return 0;
    CacheCurrent();
    m_frameStart = m_engine->Now();
    // While the user drags, the clock runs on but the image stays.
    if (!m_viewport.DragInProgress()) m_viewport.BrowseTool().Wheel(kNextImage);
    if (!m_playing) return 0;  // the step may have stopped playback

    const uint64_t now2 = m_engine->Now();
    const float target = 1e6f / float(m_period);
    if (m_previous == 0) {
        m_lastDisplay = now2;
        m_measured = m_displayed = target;
        m_viewport.Annotations().SetFrameRate(m_displayed, true);
    } else if (now2 > m_previous) {
        const float instant = 1e6f / float(now2 - m_previous);
        const int32_t step = int32_t(1000.0f / instant);
        if (m_measured > target + kRateTolerance) m_correction += step;
        if (m_measured < target - kRateTolerance) m_correction -= step;
        const int32_t limit = int32_t(0.2 * double(m_period));
        m_correction = std::clamp(m_correction, -limit, limit);
        const float ratio = m_measured / instant;
        // A moving average over about one second; a jump restarts it.
        m_measured = ratio >= 0.5f && ratio <= 2.0f ? m_measured * (1 - 1 / instant) + 1 : instant;
        if (now2 - m_lastDisplay >= kRateDisplayUs) {
            m_lastDisplay = now2;
            m_displayed = m_measured;
            m_viewport.Annotations().SetFrameRate(m_displayed, true);
        }
    }
    m_previous = now2;
    const int64_t due = int64_t(m_frameStart) + ShownFramePeriod() + m_correction;
    return uint64_t(std::max<int64_t>(due, 1));
}

uint32_t CViewport2DCine::ShownFramePeriod() {
    if (!m_acquiredTiming || Frame() == nullptr) return m_period;
    CDicomImage& image = Frame()->Image();
    if (m_intervalsOf != &image) {
        m_intervalsOf = &image;
        m_intervals = FrameIntervals(image.File(), image.FrameCount());
    }
    const size_t index = Frame()->Index();
    return index < m_intervals.size() && m_intervals[index] != 0 ? m_intervals[index] : m_period;
}

CViewport2DCine::Snapshot CViewport2DCine::TakeSnapshot() const {
    Snapshot snapshot;
    snapshot.geometry = m_viewport.Geometry();
    snapshot.centre = m_viewport.Lut().Centre();
    snapshot.width = m_viewport.Lut().Width();
    snapshot.negative = m_viewport.Lut().Negative();
    return snapshot;
}

bool CViewport2DCine::CacheCurrent() {
    if (!m_playing) return false;
    // A frame shown between two steps (keys, scroll bar) must not come from an older view.
    const Snapshot now = TakeSnapshot();
    if (now != m_snapshot) {
        m_snapshot = now;
        DropCache();
        m_cannotCache = !CacheFits();
    }
    return Caching();
}

void CViewport2DCine::DropCache() {
    if (m_cache == nullptr) return;
    m_cache->Remove(m_cacheName);
    ++m_cacheDrops;
}

bool CViewport2DCine::CacheFits() const {
    if (m_cache == nullptr) return false;
    const ViewGeometry& g = m_viewport.Geometry();
    // Grey frames are kept one byte a pixel.
    const uint64_t perPixel = m_viewport.CineFrameIsGrey() ? 1 : 4;
    const uint64_t bytes = uint64_t(m_viewport.BrowseCount()) *
                           uint64_t(std::max(g.visibleDestWidth, 0)) *
                           uint64_t(std::max(g.visibleDestHeight, 0)) * perPixel;
    return m_cache->Fits((bytes + (1u << 20) - 1) >> 20);
}

std::string CViewport2DCine::CacheKey(const void* frame) const {
    char key[64];
    std::snprintf(key, sizeof key, "*%p", frame);
    return m_cacheName + key;
}

}  // namespace vexel
