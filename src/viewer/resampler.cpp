#include "viewer/resampler.h"

#include <algorithm>

#include "engine/thread_pool.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "viewer/display_lut.h"
#include "viewer/resampler_scale.h"

namespace vexel {

struct CResampler::BandRun {
    ScaleJob job;
    int32_t lastRow = -1;
};

CResampler::CResampler(uint32_t threadCount) {
    if (threadCount == 0) threadCount = CThreadPool::LogicalProcessorCount();
    if (threadCount > 1) {
        m_pool = std::make_unique<CThreadPool>(threadCount - 1);
        m_participants = m_pool->ThreadCount() + 1;
    }
    m_accumulators.resize(m_participants);
}

CResampler::~CResampler() = default;

void CResampler::SetGeometry(const ViewGeometry& geometry) {
    const ViewGeometry& g = geometry;
    m_geometry = g;
    m_orientation = OrientationCode(g.horizontalMirror, g.verticalMirror, g.rotation);
    m_method = MethodForZoom(g.zoom);
    m_columns =
        BuildAxisTaps(m_method, g.visibleDestWidth, g.zoom, g.visibleSourceX, g.rotatedWidth);
    m_rows =
        BuildAxisTaps(m_method, g.visibleDestHeight, g.zoom, g.visibleSourceY, g.rotatedHeight);
    if (m_columns.index.empty() || m_rows.index.empty()) m_method = ScaleMethod::None;
}

bool CResampler::RenderGrey(CDicomFrame* frame, const DestinationBitmap& destination,
                            const CDisplayLUT* lut) {
    return RenderFrame(frame, destination, lut, false, false);
}

bool CResampler::RenderGreyWithOverlay(CDicomFrame* frame, const DestinationBitmap& destination,
                                       const CDisplayLUT* lut) {
    return RenderFrame(frame, destination, lut, false, true);
}

bool CResampler::RenderColour(CDicomFrame* frame, const DestinationBitmap& destination,
                              const CDisplayLUT* lut, bool withOverlay) {
    return RenderFrame(frame, destination, lut, true, withOverlay);
}

bool CResampler::RenderWithDefaultWindow(CDicomFrame* frame, const DestinationBitmap& destination,
                                         bool withOverlay, CSeriesStateStore& store) {
    if (frame == nullptr) return false;
    CDisplayLUT lut;
    if (!lut.IsValid()) return false;
    lut.SetDefaultWindow(&frame->Image(), store);
    return RenderFrame(frame, destination, &lut, frame->IsColour(), withOverlay);
}

bool CResampler::RenderGreyBlended(CDicomFrame* frame, const DestinationBitmap& destination,
                                   const CDisplayLUT* lut, bool withOverlay,
                                   std::string_view blendKey, Blend blend) {
    return RenderFrame(frame, destination, lut, false, withOverlay, blendKey, std::move(blend));
}

bool CResampler::RenderFrame(CDicomFrame* frame, const DestinationBitmap& destination,
                             const CDisplayLUT* lut, bool colour, bool overlay,
                             std::string_view blendKey, Blend blend) {
    if (frame == nullptr || lut == nullptr || !lut->IsValid() || frame->IsColour() != colour) {
        return false;
    }
    std::vector<CDicomFrame*> holders;
    const uint8_t* pixels = frame->Pixels(&holders);
    bool rendered = false;
    if (pixels != nullptr) {
        const CDicomImage& image = frame->Image();
        ResampleSource source;
        source.samples = pixels;
        source.size = frame->BufferSize();
        source.width = int32_t(std::min<uint32_t>(frame->Columns(), INT32_MAX));
        source.height = int32_t(std::min<uint32_t>(frame->Rows(), INT32_MAX));
        source.colour = colour;
        source.isSigned = image.IsSigned();
        source.slope = image.RescaleSlope();
        source.intercept = image.RescaleIntercept();
        if (overlay && frame->HasOverlay()) {
            source.overlayBits = frame->OverlayBits();
            source.overlayColumns = frame->OverlayColumns();
            source.overlayRows = frame->OverlayRows();
        }
        source.blend = std::move(blend);
        source.runRows = [this](uint32_t rows,
                                const std::function<void(uint32_t, uint32_t)>& work) {
            RunRows(rows, work);
        };
        // What is drawn over the frame is part of its cached picture.
        const std::string key =
            blendKey.empty() ? frame->Key() : frame->Key() + "#" + std::string(blendKey);
        rendered =
            RenderSamples(source, key, destination, *lut, colour || overlay || bool(source.blend));
    }
    CDicomFrame::ReleaseHolders(holders);
    return rendered;
}

bool CResampler::RenderSamples(const ResampleSource& source, std::string_view key,
                               const DestinationBitmap& destination, const CDisplayLUT& lut,
                               bool fourChannels) {
    const ViewGeometry& g = m_geometry;
    if (m_method == ScaleMethod::None || !lut.IsValid() || destination.pixels == nullptr ||
        destination.width < g.visibleDestWidth || destination.height < g.visibleDestHeight ||
        destination.stride < size_t(g.visibleDestWidth)) {
        return false;
    }
    if (source.width != g.imageWidth || source.height != g.imageHeight) return false;
    if (!PrepareStage1(source, key, lut, fourChannels)) return false;
    if (m_intermediate.width != g.rotatedWidth || m_intermediate.height != g.rotatedHeight) {
        return false;
    }
    return RunStage2(destination);
}

bool CResampler::PrepareStage1(const ResampleSource& source, std::string_view key,
                               const CDisplayLUT& lut, bool fourChannels) {
    CInterpolationParameters wanted;
    wanted.frameKey = key;
    wanted.orientation = m_orientation;
    wanted.centre = lut.Centre();
    wanted.width = lut.Width();
    wanted.negative = lut.Negative();
    wanted.monochrome1 = lut.Monochrome1();
    wanted.colourIntermediate = source.colour || fourChannels;
    wanted.overlay = fourChannels && source.overlayBits != nullptr;
    if (wanted.Matches(m_cached) && source.samples == m_cachedSamples) return true;
    m_cached = CInterpolationParameters{};
    m_cachedSamples = nullptr;
    if (!BuildIntermediate(source, m_orientation, lut.ByteTable(), fourChannels, m_intermediate)) {
        return false;
    }
    ++m_stage1Runs;
    m_cached = std::move(wanted);
    m_cachedSamples = source.samples;
    return true;
}

bool CResampler::RunStage2(const DestinationBitmap& destination) {
    BandRun run;
    run.job.source = m_intermediate.bytes.get();
    run.job.sourceWidth = m_intermediate.width;
    run.job.channels = m_intermediate.channels;
    run.job.columns = &m_columns;
    run.job.rows = &m_rows;
    run.job.dest = destination.pixels;
    run.job.destStride = destination.stride;
    run.lastRow = m_geometry.visibleDestHeight - 1;
    const size_t floats = AccumulatorSize(run.job);
    for (auto& accumulator : m_accumulators)
        if (accumulator.size() < floats) accumulator.resize(floats);
    m_run = &run;
    m_nextRow.store(0);
    for (uint32_t participant = 1; participant < m_participants; ++participant) {
        if (!m_pool->Submit([this, participant] { WorkBands(participant); })) break;
    }
    WorkBands(0);
    if (m_pool) m_pool->WaitIdle();
    m_run = nullptr;
    return true;
}

void CResampler::RunRows(uint32_t rows, const std::function<void(uint32_t, uint32_t)>& work) {
    constexpr uint32_t kBand = 16;
    std::atomic<uint32_t> next{0};
    const auto worker = [&] {
        for (uint32_t first = next.fetch_add(kBand); first < rows; first = next.fetch_add(kBand))
            work(first, std::min(rows, first + kBand));
    };
    for (uint32_t participant = 1; participant < m_participants; ++participant)
        if (!m_pool->Submit(worker)) break;
    worker();
    if (m_pool) m_pool->WaitIdle();
}

void CResampler::WorkBands(uint32_t participant) {
    float* accumulator = m_accumulators[participant].data();
    const int32_t lastRow = m_run->lastRow;
    for (;;) {
        const int32_t first = m_nextRow.fetch_add(kResampleBandRows);
        if (first > lastRow) return;
        const int32_t last = std::min(first + kResampleBandRows - 1, lastRow);
        ScaleRows(m_run->job, first, last, accumulator);
    }
}

}  // namespace vexel
