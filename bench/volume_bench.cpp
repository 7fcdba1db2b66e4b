// Finding the volumes of a viewport's list of 3,000 single-frame slices (goal under 2 ms), as
// one series and as ten series of 300 with a localizer between each; and a recompute of one
// viewport beside another of the same study, which adds the pairing of every slice.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "dicom/dicom_dictionary.h"
#include "dicom/dicom_file.h"
#include "engine/volume_finder.h"
#include "engine/volume_manager.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "platform/checked_alloc.h"

namespace vexel {
namespace {

constexpr int kFrames = 3000;

// In-memory 2 x 2 slices: the finder reads only headers and geometry.
class CSliceSet {
public:
    void Add(const std::string& series, float z, bool localizer) {
        auto file = std::make_unique<CDicomFile>();
        file->MakeInMemory();
        file->SetText(nullptr, 0x0020000D, "1.2.826.0.1.3680043.2.1125.1");
        file->SetText(nullptr, 0x0020000E, series);
        file->SetText(nullptr, 0x00200052, "1.2.826.0.1.3680043.2.1125.9");
        file->SetUS(0x00280010, 2);
        file->SetUS(0x00280011, 2);
        CDicomImage* image = CDicomImage::AttachTo(*file, false);
        const float position[3] = {-120.5f, -80.25f, z};
        const float axial[6] = {1, 0, 0, 0, 1, 0}, coronal[6] = {1, 0, 0, 0, 0, -1};
        const float thickness = 1.25f;
        image->AddFrameFromBuffer(static_cast<uint8_t*>(CheckedCalloc(8)), 8, position,
                                  localizer ? coronal : axial, &thickness);
        frames.push_back(image->Frame(0));
        m_files.push_back(std::move(file));
    }
    std::vector<CDicomFrame*> frames;

private:
    std::vector<std::unique_ptr<CDicomFile>> m_files;
};

const std::string kSeries = "1.2.826.0.1.3680043.2.1125.2.";

void BM_FindVolumesOneSeries(benchmark::State& state) {
    CSliceSet set;
    for (int i = 0; i < kFrames; ++i)
        set.Add(kSeries + "1", -400 + 1.25f * float(i), false);
    for (auto _ : state)
        benchmark::DoNotOptimize(FindVolumes(1, set.frames));
    state.counters["volumes"] = double(FindVolumes(1, set.frames).size());
}
BENCHMARK(BM_FindVolumesOneSeries)->Unit(benchmark::kMillisecond);

void BM_FindVolumesTenSeries(benchmark::State& state) {
    CSliceSet set;
    for (int s = 0; s < 10; ++s)
        for (int i = 0; i < kFrames / 10; ++i)
            set.Add(kSeries + std::to_string(s), 2.5f * float(i), i == 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(FindVolumes(1, set.frames));
    state.counters["volumes"] = double(FindVolumes(1, set.frames).size());
}
BENCHMARK(BM_FindVolumesTenSeries)->Unit(benchmark::kMillisecond);

void BM_RecomputeBesideAnotherViewport(benchmark::State& state) {
    CSliceSet a, b;
    for (int i = 0; i < kFrames; ++i)
        a.Add(kSeries + "1", 1.25f * float(i), false);
    for (int i = 0; i < kFrames / 2; ++i)
        b.Add(kSeries + "2", 2.5f * float(i), false);
    CVolumeManager manager(nullptr, {});
    manager.RecomputeVolumes(2, b.frames);
    for (auto _ : state)
        benchmark::DoNotOptimize(manager.RecomputeVolumes(1, a.frames));
    state.counters["pairs"] = double(manager.PairCount());
}
BENCHMARK(BM_RecomputeBesideAnotherViewport)->Unit(benchmark::kMillisecond);

// Hostile lists: positions that go back and forth make a volume of every two slices.
void BM_RecomputeZigzagBesideZigzag(benchmark::State& state) {
    CSliceSet a, b;
    for (int i = 0; i < kFrames; ++i) {
        a.Add(kSeries + "1", float(i % 2), false);
        b.Add(kSeries + "2", float(i % 2), false);
    }
    CVolumeManager manager(nullptr, {});
    manager.RecomputeVolumes(2, b.frames);
    for (auto _ : state)
        benchmark::DoNotOptimize(manager.RecomputeVolumes(1, a.frames));
    state.counters["volumes"] = double(manager.CountVolumes(1));
}
BENCHMARK(BM_RecomputeZigzagBesideZigzag)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vexel

int main(int argc, char** argv) {
    vexel::CDicomDictionary dictionary;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
