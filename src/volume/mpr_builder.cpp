#include "volume/mpr_builder.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#include "engine/parallel_thread_pool.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "platform/checked_alloc.h"
#include "volume/stack_resampler.h"
#include "volume/stream_copy.h"
#include "volume/word_transpose.h"

namespace vexel {
namespace {

constexpr size_t kPaddingBytes = 64;  // one cache line

// Stack samples resampled together for every slice of a block: the images they read stay in
// the cache from one slice to the next.
constexpr uint32_t kSampleChunk = 8;

// PET slices keep their largest value at this stored value, whatever the source scales.
constexpr double kPetTop = 32767;

// Indices 0..count-1 from `centre` outwards: centre, one before, one after, two before...
std::vector<uint32_t> CentreOut(uint32_t centre, uint32_t count) {
    std::vector<uint32_t> order;
    order.reserve(count);
    for (int64_t d = 0; order.size() < count; ++d) {
        if (int64_t(centre) - d >= 0) order.push_back(uint32_t(centre - d));
        if (d > 0 && centre + d < count) order.push_back(uint32_t(centre + d));
    }
    return order;
}

struct Block {
    uint32_t first = 0;
    uint32_t count = 0;
};

// As few blocks as the budget allows, of near equal size: each block costs a pass over every
// source image, and for a sagittal output a pass visits every row. The block that holds the
// middle slice comes first, then the others nearest first, before and after in turn.
std::vector<Block> PlanBlocks(uint32_t slices, uint32_t blockSlices) {
    const uint32_t count = (slices + blockSlices - 1) / blockSlices;
    std::vector<Block> grid;
    uint32_t middleBlock = 0;
    for (uint32_t b = 0; b < count; ++b) {
        const auto first = uint32_t(uint64_t(slices) * b / count);
        const auto end = uint32_t(uint64_t(slices) * (b + 1) / count);
        if (first <= slices / 2 && slices / 2 < end) middleBlock = b;
        grid.push_back({first, end - first});
    }
    std::vector<Block> blocks;
    for (uint32_t b : CentreOut(middleBlock, count))
        blocks.push_back(grid[b]);
    return blocks;
}

// A source value in the output's units: stored x a + b.
struct ValueMap {
    double a = 1;
    double b = 0;
};

class CMprBuild {
public:
    CMprBuild(const VolumeRecord& volume, const MprLayout& layout, const MprBuildOptions& options)
        : m_images(volume.images), m_layout(layout), m_options(options) {}

    MprOutcome Run(std::string* error);

private:
    bool Cancelled() const {
        return m_stopped.load() || (m_options.cancelled && m_options.cancelled());
    }
    void ForEach(uint32_t count, const CParallelThreadPool::RangeRoutine& routine) const;
    // Holds the image's pixels while `use` reads them; false when it cannot be decoded.
    bool WithPixels(size_t image, const std::function<void(const uint16_t*, bool isSigned)>& use);
    bool ChooseScale();
    bool AllocateBlock();
    // One image's share of the block, in values: its line for every slice of the block.
    // Lines fill whole cache lines, and lines and shares are padded by one more so that they
    // do not start at the same cache set: staging writes to all lines of a share in turn,
    // resampling reads two or three shares at once.
    size_t LineValues() const {
        const size_t bytes =
            (m_layout.runCount * ValueBytes() + kPaddingBytes - 1) / kPaddingBytes * kPaddingBytes;
        return (bytes + kPaddingBytes) / ValueBytes();
    }
    size_t ImageValues() const {
        return m_blockSlices * LineValues() + kPaddingBytes / ValueBytes();
    }
    // The block holds stored values as they are when the build only resamples them (one
    // rescale, no shear), else values in the output's units as floats.
    size_t ValueBytes() const { return m_storedValues ? 2 : 4; }
    // The staged block's slices, into their pixels (slot order), a chunk of stack samples of
    // every slice at a time.
    template <typename S>
    void ResampleSlices(const std::vector<CheckedPtr<uint16_t>>& outs, uint32_t fromSlot,
                        uint32_t endSlot);
    void Resample(const std::vector<CheckedPtr<uint16_t>>& outs, uint32_t fromSlot,
                  uint32_t endSlot);
    bool StageBlock(uint32_t first, uint32_t count);
    // Stages image j's share of the block into `share`, through `tile` (one share) unless it
    // can be copied as it is.
    void StageImage(size_t j, const uint16_t* words, bool isSigned, uint32_t first, uint32_t count,
                    uint8_t* tile, uint8_t* share);
    // Resamples the staged block and delivers its slices, central ones first.
    bool BuildBlock(uint32_t first, uint32_t count);
    MprOutcome Fail(std::string* error, std::string why) {
        if (error != nullptr) *error = std::move(why);
        return MprOutcome::Failed;
    }

    const std::vector<CDicomFrame*>& m_images;
    const MprLayout& m_layout;
    const MprBuildOptions& m_options;
    std::atomic<bool> m_stopped{false};
    std::atomic<bool> m_outOfMemory{false};
    std::atomic<int64_t> m_badImage{-1};

    MprValueScale m_scale;
    std::vector<ValueMap> m_maps;
    double m_padding = 0;  // outside a sheared image, in output units
    StackWeights m_weights;

    bool m_storedValues = false;
    CheckedPtr<uint8_t> m_block;
    uint8_t* m_blockStart = nullptr;  // m_block at a cache line boundary
    uint32_t m_blockSlices = 0;
    std::string m_seriesUid;
    uint32_t m_done = 0;
};

void CMprBuild::ForEach(uint32_t count, const CParallelThreadPool::RangeRoutine& routine) const {
    if (count == 0) return;
    if (m_options.pool != nullptr)
        m_options.pool->ParallelFor(routine, count);
    else
        routine(0, count - 1);
}

bool CMprBuild::WithPixels(size_t image, const std::function<void(const uint16_t*, bool)>& use) {
    CDicomFrame* frame = m_images[image];
    std::vector<CDicomFrame*> holders;
    const uint8_t* pixels = frame->Pixels(&holders);
    const bool ok = pixels != nullptr && !frame->IsColour() &&
                    frame->BufferSize() >= size_t(m_layout.sourceColumns) * m_layout.sourceRows * 2;
    if (ok) use(reinterpret_cast<const uint16_t*>(pixels), frame->Image().IsSigned());
    CDicomFrame::ReleaseHolders(holders);
    if (!ok) {
        int64_t none = -1;
        m_badImage.compare_exchange_strong(none, int64_t(image));
        m_stopped = true;
    }
    return ok;
}

// One scale for the whole output. Stored values pass unchanged when every image shares one
// rescale; PET is scaled so its largest value is kPetTop; a mixed volume is requantised at
// its finest slope (coarser only when the range would not fit in 16 bits).
bool CMprBuild::ChooseScale() {
    const CDicomImage& first = m_images.front()->Image();
    bool uniform = true;
    for (CDicomFrame* frame : m_images) {
        const CDicomImage& image = frame->Image();
        uniform = uniform && image.RescaleSlope() == first.RescaleSlope() &&
                  image.RescaleIntercept() == first.RescaleIntercept() &&
                  image.IsSigned() == first.IsSigned();
    }
    const bool pet = first.File().Modality() == ModalityCode::PT;
    double low = 0, high = 0;
    if (pet || !uniform || m_layout.sheared) {
        std::vector<std::pair<double, double>> range(m_images.size());
        ForEach(uint32_t(m_images.size()), [&](uint32_t from, uint32_t to) {
            for (uint32_t j = from; j <= to && !Cancelled(); ++j) {
                WithPixels(j, [&](const uint16_t* words, bool isSigned) {
                    int32_t lo = INT32_MAX, hi = INT32_MIN;
                    const size_t count = size_t(m_layout.sourceColumns) * m_layout.sourceRows;
                    for (size_t i = 0; i < count; ++i) {
                        const int32_t v = isSigned ? int32_t(int16_t(words[i])) : words[i];
                        lo = std::min(lo, v);
                        hi = std::max(hi, v);
                    }
                    const CDicomImage& image = m_images[j]->Image();
                    const double a = double(lo) * image.RescaleSlope() + image.RescaleIntercept();
                    const double b = double(hi) * image.RescaleSlope() + image.RescaleIntercept();
                    range[j] = {std::min(a, b), std::max(a, b)};
                });
            }
        });
        if (Cancelled()) return false;
        low = range[0].first;
        high = range[0].second;
        for (const auto& [lo, hi] : range) {
            low = std::min(low, lo);
            high = std::max(high, hi);
        }
    }

    if (pet) {
        m_scale = {high > 0 ? high / kPetTop : 1.0, 0, first.IsSigned()};
    } else if (uniform) {
        m_scale = {first.RescaleSlope(), first.RescaleIntercept(), first.IsSigned()};
        if (!(m_scale.slope != 0)) m_scale.slope = 1;
    } else {
        double slope = std::numeric_limits<double>::max();
        double intercept = std::numeric_limits<double>::max();
        for (CDicomFrame* frame : m_images) {
            const double s = std::fabs(frame->Image().RescaleSlope());
            if (s > 0) slope = std::min(slope, s);
            intercept = std::min(intercept, double(frame->Image().RescaleIntercept()));
        }
        if (slope == std::numeric_limits<double>::max()) slope = 1;
        slope = std::max(slope, (high - low) / 65535);
        if ((low - intercept) / slope < -32768 || (high - intercept) / slope > 32767)
            intercept = low + 32768 * slope;
        m_scale = {slope, intercept, true};
    }
    for (CDicomFrame* frame : m_images) {
        const CDicomImage& image = frame->Image();
        m_maps.push_back({image.RescaleSlope() / m_scale.slope,
                          (image.RescaleIntercept() - m_scale.intercept) / m_scale.slope});
    }
    m_padding = (low - m_scale.intercept) / m_scale.slope;
    m_storedValues = uniform && !pet && !m_layout.sheared;
    return true;
}

bool CMprBuild::AllocateBlock() {
    // Each share's padding, and room to start the block at a cache line.
    const size_t images = m_images.size(), padding = (images + 1) * kPaddingBytes;
    const size_t perSlice = images * LineValues() * ValueBytes();
    size_t slices = std::clamp<size_t>(
        (m_options.blockBytes - std::min(m_options.blockBytes, padding)) / perSlice, 1,
        m_layout.sliceCount);
    for (;;) {
        const size_t bytes = slices * perSlice + padding;
        void* block = m_options.allocate ? m_options.allocate(bytes) : CheckedAlloc(bytes);
        if (block != nullptr) {
            m_block.reset(static_cast<uint8_t*>(block));
            m_blockStart =
                m_block.get() + (-reinterpret_cast<uintptr_t>(block) & (kPaddingBytes - 1));
            m_blockSlices = uint32_t(slices);
            return true;
        }
        if (slices == 1) return false;
        slices /= 2;
    }
}

// Source value at fractional (step, run) pixel coordinates by bilinear interpolation; the
// padding outside the image.
template <typename T>
double Bilinear(const T* pixels, const MprLayout& l, double step, double run, double padding) {
    const uint32_t stepCount = l.stepAlongColumns ? l.sourceRows : l.sourceColumns;
    const uint32_t runCount = l.runCount;
    constexpr double kEdge = 1e-6;
    if (step < -kEdge || run < -kEdge || step > stepCount - 1 + kEdge || run > runCount - 1 + kEdge)
        return padding;
    auto at = [&](uint32_t s, uint32_t r) {
        return double(l.stepAlongColumns ? pixels[size_t(s) * l.sourceColumns + r]
                                         : pixels[size_t(r) * l.sourceColumns + s]);
    };
    const uint32_t s0 = std::min(uint32_t(std::max(step, 0.0)), stepCount > 1 ? stepCount - 2 : 0);
    const uint32_t r0 = std::min(uint32_t(std::max(run, 0.0)), runCount > 1 ? runCount - 2 : 0);
    const uint32_t s1 = std::min(s0 + 1, stepCount - 1), r1 = std::min(r0 + 1, runCount - 1);
    const double fs = std::clamp(step - s0, 0.0, 1.0), fr = std::clamp(run - r0, 0.0, 1.0);
    return (1 - fs) * ((1 - fr) * at(s0, r0) + fr * at(s0, r1)) +
           fs * ((1 - fr) * at(s1, r0) + fr * at(s1, r1));
}

// Stages the lines of source slices first .. first + count - 1 into D: floats in the output's
// units, or the stored values themselves (D = T).
template <typename T, typename D>
void StageLines(const T* pixels, const MprLayout& l, const ValueMap& map, double stepShift,
                double runShift, double padding, uint32_t first, uint32_t count, D* dst,
                size_t lineStride) {
    const uint32_t runCount = l.runCount;
    constexpr bool kStored = std::is_same_v<T, D>;
    if constexpr (!kStored) {
        if (l.sheared) {
            for (uint32_t b = 0; b < count; ++b)
                for (uint32_t i = 0; i < runCount; ++i) {
                    const double v = Bilinear(pixels, l, double(first + b) - stepShift,
                                              double(i) - runShift, std::nan(""));
                    dst[b * lineStride + i] = float(std::isnan(v) ? padding : v * map.a + map.b);
                }
            return;
        }
    }
    const float a = float(map.a), bias = float(map.b);
    const auto value = [a, bias](T v) {
        if constexpr (kStored)
            return v;
        else
            return float(v) * a + bias;
    };
    if (l.stepAlongColumns) {  // slice k takes source row k
        for (uint32_t b = 0; b < count; ++b) {
            const T* row = pixels + size_t(first + b) * l.sourceColumns;
            D* out = dst + b * lineStride;
            for (uint32_t i = 0; i < runCount; ++i)
                out[i] = value(row[i]);
        }
        return;
    }
    // Slice k takes source column k: the lines are the columns of the block's part of the
    // image.
    if constexpr (kStored)
        TransposeWords(pixels + first, l.sourceColumns, runCount, count, dst, lineStride);
    else
        TransposeWords(pixels + first, l.sourceColumns, runCount, count, dst, lineStride, a, bias);
}

// Stack sample t of every line of a slice: the weighted sum of the staged images' lines (image
// m's line at lines + m x imageStride), rounded half away from zero within the output's range.
template <typename S>
[[gnu::always_inline]] inline void ResampleRowBody(const StackWeights& w, uint32_t t,
                                                   const S* lines, size_t imageStride,
                                                   uint32_t runCount, float low, float high,
                                                   float* __restrict line,
                                                   uint16_t* __restrict out) {
    const auto store = [&](uint32_t i, float v) {
        v = std::min(std::max(v, low), high);
        out[i] = uint16_t(int32_t(v + std::copysign(0.5f, v)));
    };
    const uint32_t first = w.first[t], end = w.first[t + 1];
    const auto values = [&](uint32_t e) { return lines + size_t(w.slice[e]) * imageStride; };
    // The common cases in one pass: a sample between two images, or centred on one.
    if (end - first == 2 || end - first == 3) {
        const float wa = float(w.weight[first]), wb = float(w.weight[first + 1]);
        const S* __restrict a = values(first);
        const S* __restrict b = values(first + 1);
        if (end - first == 2) {
            for (uint32_t i = 0; i < runCount; ++i)
                store(i, wa * float(a[i]) + wb * float(b[i]));
            return;
        }
        const float wc = float(w.weight[first + 2]);
        const S* __restrict c = values(first + 2);
        for (uint32_t i = 0; i < runCount; ++i)
            store(i, wa * float(a[i]) + wb * float(b[i]) + wc * float(c[i]));
        return;
    }
    std::fill_n(line, runCount, 0.f);
    for (uint32_t e = first; e < end; ++e) {
        const float weight = float(w.weight[e]);
        const S* __restrict v = values(e);
        for (uint32_t i = 0; i < runCount; ++i)
            line[i] += weight * float(v[i]);
    }
    for (uint32_t i = 0; i < runCount; ++i)
        store(i, line[i]);
}

template <typename S>
using RowResampler = void (*)(const StackWeights&, uint32_t, const S*, size_t, uint32_t, float,
                              float, float*, uint16_t*);

template <typename S>
void ResampleRow(const StackWeights& w, uint32_t t, const S* lines, size_t imageStride,
                 uint32_t runCount, float low, float high, float* line, uint16_t* out) {
    ResampleRowBody(w, t, lines, imageStride, runCount, low, high, line, out);
}

#if defined(__x86_64__)
// The same code in twice as wide vectors where the processor has them. No fused multiply-add:
// the values stay the same bit for bit on every processor.
template <typename S>
[[gnu::target("avx2")]] void ResampleRowAvx2(const StackWeights& w, uint32_t t, const S* lines,
                                             size_t imageStride, uint32_t runCount, float low,
                                             float high, float* line, uint16_t* out) {
    ResampleRowBody(w, t, lines, imageStride, runCount, low, high, line, out);
}
#endif

template <typename S>
RowResampler<S> PickRowResampler() {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2")) return ResampleRowAvx2<S>;
#endif
    return ResampleRow<S>;
}

void CMprBuild::StageImage(size_t j, const uint16_t* words, bool isSigned, uint32_t first,
                           uint32_t count, uint8_t* tile, uint8_t* share) {
    const MprLayout& l = m_layout;
    const size_t lineBytes = LineValues() * ValueBytes();
    if (m_storedValues && l.stepAlongColumns) {  // slice k takes source row k as it is
        for (uint32_t b = 0; b < count; ++b)
            StreamCopy(share + b * lineBytes, words + size_t(first + b) * l.sourceColumns,
                       l.runCount * sizeof(uint16_t));
        return;
    }
    const auto* signedWords = reinterpret_cast<const int16_t*>(words);
    const auto stage = [&](const auto* pixels, auto* values) {
        StageLines(pixels, l, m_maps[j], l.stepShift[j], l.runShift[j], m_padding, first, count,
                   values, LineValues());
    };
    if (!m_storedValues) {
        auto* floats = reinterpret_cast<float*>(tile);
        if (isSigned)
            stage(signedWords, floats);
        else
            stage(words, floats);
    } else if (isSigned) {
        stage(signedWords, reinterpret_cast<int16_t*>(tile));
    } else {
        stage(words, reinterpret_cast<uint16_t*>(tile));
    }
    StreamCopy(share, tile, count * lineBytes);
}

bool CMprBuild::StageBlock(uint32_t first, uint32_t count) {
    // Block layout: image in sampling order, then slot, then the run axis, so an image is
    // staged into one contiguous share. A stack that runs against the normal is sampled from
    // its last image down; stored in that order it is still read forwards. Staged in block
    // order, so that each thread writes forwards through the block.
    const uint32_t images = uint32_t(m_images.size());
    ForEach(images, [&](uint32_t from, uint32_t to) {
        const CheckedPtr<uint8_t> tile(
            static_cast<uint8_t*>(CheckedAlloc(ImageValues() * ValueBytes())));
        if (!tile) {
            m_outOfMemory = true;
            m_stopped = true;
            return;
        }
        for (uint32_t position = from; position <= to && !Cancelled(); ++position) {
            const uint32_t j = m_layout.stackReversed ? images - 1 - position : position;
            if (m_options.beforeSourceImage) m_options.beforeSourceImage(j);
            if (Cancelled()) break;
            uint8_t* share = m_blockStart + position * ImageValues() * ValueBytes();
            WithPixels(j, [&](const uint16_t* words, bool isSigned) {
                StageImage(j, words, isSigned, first, count, tile.get(), share);
            });
        }
        EndStreaming();
    });
    return !Cancelled();
}

template <typename S>
void CMprBuild::ResampleSlices(const std::vector<CheckedPtr<uint16_t>>& outs, uint32_t fromSlot,
                               uint32_t endSlot) {
    const MprLayout& l = m_layout;
    const uint32_t samples = uint32_t(l.samples), slots = endSlot - fromSlot;
    const uint32_t chunks = (samples + kSampleChunk - 1) / kSampleChunk;
    const float low = m_scale.isSigned ? -32768.f : 0.f;
    const float high = m_scale.isSigned ? 32767.f : 65535.f;
    const size_t imageStride = ImageValues();
    const RowResampler<S> resampleRow = PickRowResampler<S>();
    // One loop over every chunk of every slice of the block, so the threads meet once a block.
    ForEach(chunks * slots, [&](uint32_t from, uint32_t to) {
        std::vector<float> line(l.runCount);
        std::vector<uint16_t> tile;
        for (uint32_t index = from; index <= to; ++index) {
            const uint32_t slot = fromSlot + index % slots, t0 = index / slots * kSampleChunk;
            const uint32_t t1 = std::min(samples, t0 + kSampleChunk);
            const S* lines = reinterpret_cast<const S*>(m_blockStart) + slot * LineValues();
            uint16_t* out = outs[slot].get();
            if (!l.stackAlongRows) {
                for (uint32_t t = t0; t < t1; ++t)
                    resampleRow(m_weights, t, lines, imageStride, l.runCount, low, high,
                                line.data(), out + size_t(t) * l.columns);
                continue;
            }
            // The stack runs along the output rows: a tile of rows, written back column-wise.
            const uint32_t count = t1 - t0;
            tile.resize(size_t(count) * l.runCount);
            for (uint32_t t = t0; t < t1; ++t)
                resampleRow(m_weights, t, lines, imageStride, l.runCount, low, high, line.data(),
                            tile.data() + size_t(t - t0) * l.runCount);
            for (uint32_t i = 0; i < l.runCount; ++i)
                for (uint32_t t = 0; t < count; ++t)
                    out[size_t(i) * l.columns + t0 + t] = tile[size_t(t) * l.runCount + i];
        }
    });
}

void CMprBuild::Resample(const std::vector<CheckedPtr<uint16_t>>& outs, uint32_t fromSlot,
                         uint32_t endSlot) {
    if (fromSlot >= endSlot) return;
    if (!m_storedValues)
        ResampleSlices<float>(outs, fromSlot, endSlot);
    else if (m_scale.isSigned)
        ResampleSlices<int16_t>(outs, fromSlot, endSlot);
    else
        ResampleSlices<uint16_t>(outs, fromSlot, endSlot);
}

bool CMprBuild::BuildBlock(uint32_t first, uint32_t count) {
    const MprLayout& l = m_layout;
    const size_t bytes = size_t(l.rows) * l.columns * 2;
    std::vector<CheckedPtr<uint16_t>> outs;
    for (uint32_t b = 0; b < count; ++b) {
        void* memory = m_options.allocate ? m_options.allocate(bytes) : CheckedAlloc(bytes);
        if (memory == nullptr) return false;
        outs.emplace_back(static_cast<uint16_t*>(memory));
    }
    const auto deliver = [&](uint32_t k) {
        MprSliceHeader header;
        header.seriesInstanceUid = m_seriesUid;
        header.sopInstanceUid = NewUuidUid();
        header.index = k;
        header.scale = m_scale;
        MprSlice slice;
        slice.file = MakeMprSliceFile(m_images.front()->Image().File(), l, header,
                                      reinterpret_cast<uint8_t*>(outs[k - first].release()));
        if (!slice.file) return false;
        slice.index = k;
        slice.done = ++m_done;
        slice.total = l.sliceCount;
        if (m_options.deliver) m_options.deliver(std::move(slice));
        return true;
    };
    // Slices nearest the middle one first. The middle slice itself is resampled and delivered
    // alone, so it is on screen before the rest of its block is done.
    const uint32_t middle = l.sliceCount / 2;
    const uint32_t centre = std::clamp(middle, first, first + count - 1) - first;
    std::vector<uint32_t> order = CentreOut(centre, count);
    if (middle == first + centre) {
        Resample(outs, centre, centre + 1);
        if (Cancelled()) return true;  // the run reports it
        if (!deliver(middle)) return false;
        order.erase(order.begin());
        Resample(outs, 0, centre);
        Resample(outs, centre + 1, count);
    } else {
        Resample(outs, 0, count);
    }
    for (uint32_t slot : order) {
        if (Cancelled()) break;
        if (!deliver(first + slot)) return false;
    }
    return true;
}

MprOutcome CMprBuild::Run(std::string* error) {
    if (Cancelled()) return MprOutcome::Cancelled;
    if (!ChooseScale()) {
        if (m_badImage >= 0)
            return Fail(error, "image " + std::to_string(m_badImage + 1) + " could not be decoded");
        return MprOutcome::Cancelled;
    }
    // The stack's knots in sampling order: from the last image down when the stack runs
    // against the normal.
    const size_t count = m_images.size();
    std::vector<double> knots(count);
    for (size_t m = 0; m < count; ++m)
        knots[m] = m_layout.stackReversed ? m_layout.depth.back() - m_layout.depth[count - 1 - m]
                                          : m_layout.depth[m];
    // The block holds the images in this order too (see StageImage), so resampling reads
    // forwards through it whichever way the stack runs.
    m_weights = ComputeStackWeights(knots, m_layout.sampleStep, m_layout.samples);

    if (!AllocateBlock()) return Fail(error, "not enough memory");
    m_seriesUid = NewUuidUid();
    for (const Block& block : PlanBlocks(m_layout.sliceCount, m_blockSlices)) {
        if (!StageBlock(block.first, block.count)) break;
        if (!BuildBlock(block.first, block.count)) return Fail(error, "not enough memory");
    }
    if (m_badImage >= 0)
        return Fail(error, "image " + std::to_string(m_badImage + 1) + " could not be decoded");
    if (m_outOfMemory) return Fail(error, "not enough memory");
    return Cancelled() ? MprOutcome::Cancelled : MprOutcome::Done;
}

}  // namespace

MprOutcome BuildMpr(const VolumeRecord& volume, int32_t plane, const MprBuildOptions& options,
                    std::string* error) {
    const std::optional<MprLayout> layout = PlanMprLayout(volume, plane, error);
    if (!layout) return MprOutcome::Failed;
    CMprBuild build(volume, *layout, options);
    return build.Run(error);
}

}  // namespace vexel
