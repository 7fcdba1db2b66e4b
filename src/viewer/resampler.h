// The resampler of a 2D viewport: turns a frame into the 32-bit bitmap of the visible image
// part in two stages. Stage 1 maps the whole frame through the display look-up into an 8-bit
// intermediate image in the view's rotated and mirrored layout and is cached: while the frame,
// the orientation and the look-up stay the same, zoom, pan and resize run stage 2 alone.
// Stage 2 copies (zoom 1), enlarges (bilinear) or reduces (area average) the visible part into
// the destination, in bands of 32 rows shared by the caller and a private pool of threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "viewer/interpolation_parameters.h"
#include "viewer/resampler_stage1.h"
#include "viewer/resampler_tables.h"
#include "viewer/view_geometry.h"

namespace vexel {

class CDicomFrame;
class CDisplayLUT;
class CSeriesStateStore;
class CThreadPool;

inline constexpr int32_t kResampleBandRows = 32;

// The caller's bitmap: 0x00RRGGBB words, rows top-down, `stride` words apart; at least the
// visible destination size of the geometry.
struct DestinationBitmap {
    uint32_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    size_t stride = 0;
};

class CResampler {
public:
    // threadCount 0: one per logical processor. The calling thread takes part in stage 2,
    // so threadCount - 1 threads are started.
    explicit CResampler(uint32_t threadCount = 0);
    ~CResampler();
    CResampler(const CResampler&) = delete;
    CResampler& operator=(const CResampler&) = delete;

    // Takes the geometry of the latest layout and rebuilds the scaling tables.
    void SetGeometry(const ViewGeometry& geometry);
    const ViewGeometry& Geometry() const { return m_geometry; }

    // Each returns false without writing when the frame, destination or look-up is missing
    // or unusable, the frame's kind does not fit the call, or memory is refused.
    bool RenderGrey(CDicomFrame* frame, const DestinationBitmap& destination,
                    const CDisplayLUT* lut);
    bool RenderGreyWithOverlay(CDicomFrame* frame, const DestinationBitmap& destination,
                               const CDisplayLUT* lut);
    bool RenderColour(CDicomFrame* frame, const DestinationBitmap& destination,
                      const CDisplayLUT* lut, bool withOverlay);
    // A grey frame with `blend` drawing over its picture in the frame's own layout before the
    // view's rotation and scaling (fusion); `blendKey` names what it draws, so a cached
    // picture is reused only for the same.
    using Blend = std::function<void(uint32_t* picture, const RowRunner& runRows)>;
    bool RenderGreyBlended(CDicomFrame* frame, const DestinationBitmap& destination,
                           const CDisplayLUT* lut, bool withOverlay, std::string_view blendKey,
                           Blend blend);
    // Through a temporary look-up set to the image's own window (thumbnails, export).
    bool RenderWithDefaultWindow(CDicomFrame* frame, const DestinationBitmap& destination,
                                 bool withOverlay, CSeriesStateStore& store);
    // Samples already in hand; an empty key never reuses the cached stage 1.
    bool RenderSamples(const ResampleSource& source, std::string_view key,
                       const DestinationBitmap& destination, const CDisplayLUT& lut,
                       bool fourChannels);

    // How often stage 1 ran (tests and benchmarks); forgetting it forces the next run.
    uint64_t Stage1Runs() const { return m_stage1Runs; }
    void ForgetStage1() { m_cached = CInterpolationParameters{}; }
    uint32_t ThreadCount() const { return m_participants; }

private:
    bool RenderFrame(CDicomFrame* frame, const DestinationBitmap& destination,
                     const CDisplayLUT* lut, bool colour, bool overlay,
                     std::string_view blendKey = {}, Blend blend = {});
    // Row bands of [0, rows) on the caller and the pool's threads.
    void RunRows(uint32_t rows, const std::function<void(uint32_t, uint32_t)>& work);
    bool PrepareStage1(const ResampleSource& source, std::string_view key, const CDisplayLUT& lut,
                       bool fourChannels);
    bool RunStage2(const DestinationBitmap& destination);
    void WorkBands(uint32_t participant);

    ViewGeometry m_geometry;
    uint32_t m_orientation = 0;
    ScaleMethod m_method = ScaleMethod::None;
    AxisTaps m_columns;
    AxisTaps m_rows;

    CInterpolationParameters m_cached;
    const uint8_t* m_cachedSamples = nullptr;
    IntermediateImage m_intermediate;
    uint64_t m_stage1Runs = 0;

    uint32_t m_participants = 1;
    std::unique_ptr<CThreadPool> m_pool;
    std::vector<std::vector<float>> m_accumulators;  // one per participant
    struct BandRun;
    const BandRun* m_run = nullptr;  // the stage 2 in progress
    std::atomic<int32_t> m_nextRow{0};
};

}  // namespace vexel
