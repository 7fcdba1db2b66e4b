// Is the disk cache worth it? Restoring a 512 x 512 16-bit CT frame from the cache (file
// read and CRC-32 check, page cache warm) against decoding the same frame again with the
// lossless JPEG module (jpeg2) and the JPEG 2000 module. The encoded frames are made by
// DCMTK (lossless SV1) and OpenJPEG (lossless 5/3); every decode is checked once against
// the original samples. Also: how long closing a cache with hundreds of queued writes takes.
//   build-*/bin/vexel_cache_bench --benchmark_min_time=1
#include <benchmark/benchmark.h>
#include <openjpeg.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "bench_frames.h"
#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmjpeg/djcparam.h"
#include "dcmtk/dcmjpeg/djeijg16.h"
#include "imaging/binary_value_cacher.h"
#include "vexel_codec.h"

namespace {

namespace fs = std::filesystem;
constexpr uint32_t kSize = 512;
constexpr size_t kFrameBytes = size_t{kSize} * kSize * 2;

std::vector<uint16_t> FrameSamples() {
    return vexel::bench::NoisyCtSlice(kSize);
}

// Lossless JPEG, first-order prediction (selection value 1), by DCMTK's IJG 16-bit encoder.
std::vector<uint8_t> EncodeLossless(std::vector<uint16_t> samples) {
    DJCodecParameter parameters(ECC_lossyYCbCr, EDC_never, EUC_never, EPC_colorByPixel);
    DJCompressIJG16Bit encoder(parameters, EJM_lossless, 1, 0);
    Uint8* encoded = nullptr;
    Uint32 length = 0;
    if (encoder.encode(kSize, kSize, EPI_Monochrome2, 1, samples.data(), encoded, length).bad()) {
        return {};
    }
    std::vector<uint8_t> bytes(encoded, encoded + length);
    delete[] encoded;
    return bytes;
}

std::vector<uint8_t> EncodeJ2k(const std::vector<uint16_t>& samples) {
    return vexel::bench::EncodeJ2kLossless(samples, kSize, kSize);
}

struct Corpus {
    std::vector<uint8_t> frame;  // little-endian 16-bit samples, as a decoded frame holds them
    std::vector<uint8_t> lossless;
    std::vector<uint8_t> j2k;
};

const Corpus& GetCorpus() {
    static const Corpus corpus = [] {
        const std::vector<uint16_t> samples = FrameSamples();
        Corpus c;
        c.frame.resize(kFrameBytes);
        std::memcpy(c.frame.data(), samples.data(), kFrameBytes);  // little-endian machine
        c.lossless = EncodeLossless(samples);
        c.j2k = EncodeJ2k(samples);
        return c;
    }();
    return corpus;
}

void DecodeWithModule(benchmark::State& state, const char* module,
                      const std::vector<uint8_t>& stream) {
    const vexel::bench::CodecDecode decode = vexel::bench::LoadCodecModule(module);
    if (decode == nullptr || stream.empty()) {
        return state.SkipWithError("module beside the benchmark, or encoded frame, missing");
    }
    std::vector<uint8_t> output(kFrameBytes);
    if (!vexel::bench::DecodeGreyFrame(decode, stream, kSize, output) || output != GetCorpus().frame) {
        return state.SkipWithError("the module does not give the original samples back");
    }
    for (auto _ : state) {
        if (!vexel::bench::DecodeGreyFrame(decode, stream, kSize, output)) return state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(output.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["stream_bytes"] = static_cast<double>(stream.size());
}

void BM_DecodeAgain_LosslessJpeg(benchmark::State& state) {
    DecodeWithModule(state, "jpeg2", GetCorpus().lossless);
}

void BM_DecodeAgain_Jpeg2000(benchmark::State& state) {
    DecodeWithModule(state, "jpeg2000", GetCorpus().j2k);
}

fs::path CacheRoot() {
    return fs::path(VEXEL_BENCH_DATA_DIR) / "cache-bench";
}

vexel::CheckedPtr<uint8_t> FrameBuffer() {
    vexel::CheckedPtr<uint8_t> buffer(static_cast<uint8_t*>(vexel::CheckedAlloc(kFrameBytes)));
    if (buffer) std::memcpy(buffer.get(), GetCorpus().frame.data(), kFrameBytes);
    return buffer;
}

// The frame has been written and read back before the clock starts, so its pages are cached.
void BM_RestoreFromDiskCache(benchmark::State& state) {
    vexel::CBinaryValueCacher cache(CacheRoot());
    vexel::CheckedPtr<uint8_t> buffer = FrameBuffer();
    const uint32_t id = cache.Store(buffer, kFrameBytes, false);
    cache.WaitIdle();
    std::vector<uint8_t> output(kFrameBytes);
    if (id == 0 || !cache.Load(id, output.data(), kFrameBytes) || output != GetCorpus().frame) {
        return state.SkipWithError("the cache does not give the frame back");
    }
    for (auto _ : state) {
        if (!cache.Load(id, output.data(), kFrameBytes)) return state.SkipWithError("load failed");
        benchmark::DoNotOptimize(output.data());
    }
    state.SetItemsProcessed(state.iterations());
}

// Closing the cache with state.range(0) writes of 64 KiB still queued: they are dropped,
// and every file written so far is deleted with its folders.
void BM_CloseWithPendingWrites(benchmark::State& state) {
    const auto pending = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto cache = std::make_unique<vexel::CBinaryValueCacher>(CacheRoot());
        for (int i = 0; i < pending; ++i) {
            vexel::CheckedPtr<uint8_t> buffer(static_cast<uint8_t*>(vexel::CheckedAlloc(65536)));
            if (!buffer) return state.SkipWithError("no memory");
            std::memset(buffer.get(), i, 65536);
            cache->Store(buffer, 65536, true);
        }
        state.ResumeTiming();
        cache.reset();
    }
}

BENCHMARK(BM_RestoreFromDiskCache)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeAgain_LosslessJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeAgain_Jpeg2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CloseWithPendingWrites)->Arg(500)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
