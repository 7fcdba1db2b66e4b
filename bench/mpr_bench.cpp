// Reformatting a decoded 512 x 512 x 1000 16-bit volume (isotropic 0.8 mm): coronal and
// sagittal from an axial stack, axial from a coronal one, against the memory-bandwidth bound
// of the same run (a memcpy of the source volume and of the output). Counters: the first
// (central) slice's delay, and the peak heap beyond the source while the output is kept, as
// the viewer keeps it, beside the output's own size and the block buffer's budget. Each case
// also reports the median of its iterations (medianMs): on a virtual machine the first
// touches of memory the process has not used before cost several times the later ones. The
// bound is also timed just before each iteration: xBound is the median of the iterations'
// ratios to it, boundMs the median of those bounds.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dicom/dicom_dictionary.h"
#include "engine/parallel_thread_pool.h"
#include "engine/volume_finder.h"
#include "heap_meter.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "platform/checked_alloc.h"
#include "volume/mpr_builder.h"

namespace vexel {
namespace {

constexpr int kSize = 512;
constexpr int kSlices = 1000;
constexpr float kSpacing = 0.8f;

// In-memory slices with their pixels decoded: what the viewer holds once a series is read.
class CVolume {
public:
    explicit CVolume(bool coronal) {
        const float axial[6] = {1, 0, 0, 0, 1, 0}, coronalIop[6] = {1, 0, 0, 0, 0, -1};
        for (int k = 0; k < kSlices; ++k) {
            auto file = std::make_unique<CDicomFile>();
            file->MakeInMemory();
            file->SetText(nullptr, 0x0020000D, "1.2.826.0.1.3680043.2.1125.1");
            file->SetText(nullptr, 0x0020000E, "1.2.826.0.1.3680043.2.1125.2");
            file->SetText(nullptr, 0x00200052, "1.2.826.0.1.3680043.2.1125.3");
            file->SetText(nullptr, 0x00080060, "CT");
            file->SetText(nullptr, 0x00280030, "0.8\\0.8");
            file->SetUS(0x00280010, kSize);
            file->SetUS(0x00280011, kSize);
            file->SetUS(0x00280100, 16);
            file->SetUS(0x00280101, 16);
            file->SetUS(0x00280103, 1);
            CDicomImage* image = CDicomImage::AttachTo(*file, false);
            const size_t bytes = size_t(kSize) * kSize * 2;
            auto* pixels = static_cast<int16_t*>(CheckedAlloc(bytes));
            for (int i = 0; i < kSize * kSize; ++i)
                pixels[i] = int16_t((i * 7 + k * 13) % 2000 - 1000);
            const float depth = kSpacing * float(k);
            const float position[3] = {-200, coronal ? depth : -200, coronal ? 200 : depth};
            const float thickness = kSpacing;
            image->AddFrameFromBuffer(reinterpret_cast<uint8_t*>(pixels), bytes, position,
                                      coronal ? coronalIop : axial, &thickness);
            frames.push_back(image->Frame(0));
            m_files.push_back(std::move(file));
        }
        std::vector<VolumeRecord> found = FindVolumes(1, frames);
        if (!found.empty()) volume = found.front();
    }
    std::vector<CDicomFrame*> frames;
    VolumeRecord volume;

private:
    std::vector<std::unique_ptr<CDicomFile>> m_files;
};

constexpr size_t kVolumeBytes = size_t(kSize) * kSize * kSlices * 2;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

template <typename Work>
double TimeMs(Work work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Times each iteration's work and sets the medianMs counter when the loop is done.
class CIterationTimes {
public:
    explicit CIterationTimes(benchmark::State& state) : m_state(state) {}
    ~CIterationTimes() {
        if (!m_times.empty()) m_state.counters["medianMs"] = Median(m_times);
    }
    template <typename Work>
    double Time(Work work) {
        m_times.push_back(TimeMs(work));
        return m_times.back();
    }

private:
    benchmark::State& m_state;
    std::vector<double> m_times;
};

// The bound: reading the source volume once and writing the output once (here as large as
// the source), as two memcpy calls.
class CMemcpyBound {
public:
    CMemcpyBound()
        : m_source(kVolumeBytes, 1),
          m_copy(kVolumeBytes),
          m_output(kVolumeBytes, 2),
          m_outputCopy(kVolumeBytes) {}
    // Both copies, in milliseconds.
    double Time() {
        return TimeMs([&] {
            std::memcpy(m_copy.data(), m_source.data(), kVolumeBytes);
            std::memcpy(m_outputCopy.data(), m_output.data(), kVolumeBytes);
            benchmark::ClobberMemory();
        });
    }

private:
    std::vector<char> m_source, m_copy, m_output, m_outputCopy;
};

void Reformat(benchmark::State& state, bool coronalSource, int32_t plane) {
    const size_t before = bench::HeapInUse();
    CVolume source(coronalSource);
    const size_t baseline = bench::HeapInUse();
    if (source.volume.images.empty()) {
        state.SkipWithError("no volume");
        return;
    }
    CParallelThreadPool pool;
    double firstMs = 0;
    size_t peak = 0, outputBytes = 0;
    // One build outside the timing for the counters: the first slice's delay and the heap
    // beyond the source at each slice, with every slice kept as the viewer keeps them.
    {
        std::vector<MprSlice> kept;
        const auto start = std::chrono::steady_clock::now();
        MprBuildOptions options;
        options.pool = &pool;
        options.deliver = [&](MprSlice slice) {
            if (kept.empty())
                firstMs = std::chrono::duration<double, std::milli>(
                              std::chrono::steady_clock::now() - start)
                              .count();
            outputBytes += CDicomImage::Of(*slice.file)->Frame(0)->BufferSize();
            kept.push_back(std::move(slice));
            peak = std::max(peak, bench::HeapInUse() - baseline);
        };
        std::string error;
        if (BuildMpr(source.volume, plane, options, &error) != MprOutcome::Done) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    // The bound is timed before each iteration too, outside its timing: the load of a shared
    // host drifts within a run, and the ratio of neighbouring times drifts far less.
    CMemcpyBound bound;
    std::vector<double> boundTimes, ratios;
    {
        CIterationTimes times(state);
        for (auto _ : state) {
            state.PauseTiming();
            boundTimes.push_back(bound.Time());
            state.ResumeTiming();
            std::vector<MprSlice> kept;  // dropped outside the timing
            MprBuildOptions options;
            options.pool = &pool;
            options.deliver = [&](MprSlice slice) { kept.push_back(std::move(slice)); };
            ratios.push_back(times.Time([&] { BuildMpr(source.volume, plane, options, nullptr); }) /
                             boundTimes.back());
            state.PauseTiming();
            kept.clear();
            state.ResumeTiming();
        }
    }
    state.counters["boundMs"] = Median(boundTimes);
    state.counters["xBound"] = Median(ratios);
    state.counters["firstSliceMs"] = firstMs;
    state.counters["sourceMB"] = double(baseline - before) / 1e6;
    state.counters["outputMB"] = double(outputBytes) / 1e6;
    state.counters["blockMB"] = double(MprBuildOptions{}.blockBytes) / 1e6;
    state.counters["peakExtraMB"] = double(peak) / 1e6;
}

void BM_CoronalFromAxial(benchmark::State& state) {
    Reformat(state, false, kPlaneCoronal);
}
void BM_SagittalFromAxial(benchmark::State& state) {
    Reformat(state, false, kPlaneSagittalRight);
}
void BM_AxialFromCoronal(benchmark::State& state) {
    Reformat(state, true, kPlaneAxialFeet);
}

void BM_MemcpyBound(benchmark::State& state) {
    CMemcpyBound bound;
    CIterationTimes times(state);
    for (auto _ : state)
        times.Time([&] { bound.Time(); });
}

// The same with the output written into newly allocated slices, as a reformat must: the
// pages of new memory are mapped on first touch, which costs as much as the copy here.
void BM_MemcpyBoundFreshOutput(benchmark::State& state) {
    const size_t slice = size_t(kSize) * kSlices * 2;
    std::vector<char> source(kVolumeBytes, 1), copy(kVolumeBytes), output(slice, 2);
    for (auto _ : state) {
        std::memcpy(copy.data(), source.data(), kVolumeBytes);
        std::vector<CheckedPtr<char>> slices;
        for (int k = 0; k < kSize; ++k) {
            slices.emplace_back(static_cast<char*>(CheckedAlloc(slice)));
            std::memcpy(slices.back().get(), output.data(), slice);
        }
        benchmark::ClobberMemory();
        state.PauseTiming();
        slices.clear();
        state.ResumeTiming();
    }
}

BENCHMARK(BM_MemcpyBoundFreshOutput)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MemcpyBound)->Unit(benchmark::kMillisecond)->Iterations(7);
BENCHMARK(BM_CoronalFromAxial)->Unit(benchmark::kMillisecond)->Iterations(7)->UseRealTime();
BENCHMARK(BM_SagittalFromAxial)->Unit(benchmark::kMillisecond)->Iterations(7)->UseRealTime();
BENCHMARK(BM_AxialFromCoronal)->Unit(benchmark::kMillisecond)->Iterations(7)->UseRealTime();

}  // namespace
}  // namespace vexel
int main(int argc, char** argv) {
    vexel::CDicomDictionary dictionary;  // the in-memory data sets take their VRs from it
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
