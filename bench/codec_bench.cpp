// JPEG-LS and JPEG 2000 decoding of 512 x 512 16-bit CT frames: our modules (loaded with
// dlopen, as the program loads them) against CharLS and OpenJPEG called directly, same run.
//   build-*/bin/vexel_codec_bench --benchmark_min_time=1
#include <benchmark/benchmark.h>
#include <charls/charls.h>
#include <dlfcn.h>
#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

#include "bench_frames.h"
#include "vexel_codec.h"

namespace {

constexpr uint32_t kSize = 512;

std::vector<uint16_t> FrameSamples() {
    return vexel::bench::NoisyCtSlice(kSize);
}

std::vector<uint8_t> EncodeJpegLs(const std::vector<uint16_t>& samples) {
    const std::vector<uint16_t> encoded =
        charls::jpegls_encoder::encode(samples, charls::frame_info{kSize, kSize, 16, 1});
    // CharLS hands the bytes back in a container of the source's element type.
    std::vector<uint8_t> bytes(encoded.size() * 2);
    std::memcpy(bytes.data(), encoded.data(), bytes.size());
    return bytes;
}

std::vector<uint8_t> EncodeJ2k(const std::vector<uint16_t>& samples) {
    std::vector<uint8_t> out = vexel::bench::EncodeJ2kLossless(samples, kSize, kSize);
    if (out.empty()) throw std::runtime_error("OpenJPEG encoding failed");
    return out;
}

struct Corpus {
    std::vector<uint8_t> jpegLs;
    std::vector<uint8_t> j2k;
};

const Corpus& TestCorpus() {
    static const Corpus corpus = [] {
        const std::vector<uint16_t> samples = FrameSamples();
        return Corpus{EncodeJpegLs(samples), EncodeJ2k(samples)};
    }();
    return corpus;
}

using DecodeEx = int32_t (*)(VexelDecodeRequest*);

DecodeEx LoadModule(const char* name) {
    const auto dir = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    const std::string path = (dir / (std::string("libvexel-") + name + ".so")).string();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);  // kept for the whole run
    return handle ? reinterpret_cast<DecodeEx>(dlsym(handle, "DecompressJPEGEx")) : nullptr;
}

void DecodeWithModule(benchmark::State& state, const char* module,
                      const std::vector<uint8_t>& stream) {
    const DecodeEx decode = LoadModule(module);
    if (decode == nullptr) return state.SkipWithError("module not found beside the benchmark");
    std::vector<uint8_t> output(size_t{kSize} * kSize * 2);
    for (auto _ : state) {
        VexelDecodeRequest request{};
        request.structSize = sizeof request;
        request.data = stream.data();
        request.size = stream.size();
        request.output = output.data();
        request.capacity = output.size();
        request.rows = request.columns = kSize;
        request.components = 1;
        if (decode(&request) != VEXEL_CODEC_OK) return state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(output.data());
    }
    state.SetItemsProcessed(state.iterations() * kSize * kSize);
}

void BM_JpegLs_Module(benchmark::State& state) {
    DecodeWithModule(state, "jpeg4", TestCorpus().jpegLs);
}

void BM_JpegLs_CharLS(benchmark::State& state) {
    const std::vector<uint8_t>& stream = TestCorpus().jpegLs;
    std::vector<uint8_t> output(size_t{kSize} * kSize * 2);
    for (auto _ : state) {
        charls::jpegls_decoder decoder(stream, true);
        decoder.decode(output);
        benchmark::DoNotOptimize(output.data());
    }
    state.SetItemsProcessed(state.iterations() * kSize * kSize);
}

void BM_Jpeg2000_Module(benchmark::State& state) {
    DecodeWithModule(state, "jpeg2000", TestCorpus().j2k);
}

struct Source {
    const std::vector<uint8_t>* bytes;
    size_t position;
};

OPJ_SIZE_T ReadSource(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* source = static_cast<Source*>(user);
    const size_t left = source->bytes->size() - source->position;
    if (left == 0) return static_cast<OPJ_SIZE_T>(-1);
    const size_t taken = std::min(left, count);
    std::memcpy(buffer, source->bytes->data() + source->position, taken);
    source->position += taken;
    return taken;
}

// OpenJPEG as an application would call it: memory stream, header, decode, image freed.
void BM_Jpeg2000_OpenJPEG(benchmark::State& state) {
    const std::vector<uint8_t>& stream = TestCorpus().j2k;
    for (auto _ : state) {
        Source source{&stream, 0};
        opj_stream_t* input = opj_stream_create(1 << 20, OPJ_TRUE);
        opj_stream_set_user_data(input, &source, nullptr);
        opj_stream_set_user_data_length(input, stream.size());
        opj_stream_set_read_function(input, &ReadSource);
        opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_J2K);
        opj_dparameters_t parameters;
        opj_set_default_decoder_parameters(&parameters);
        opj_setup_decoder(codec, &parameters);
        opj_image_t* image = nullptr;
        const bool ok = opj_read_header(input, codec, &image) && opj_decode(codec, input, image) &&
                        opj_end_decompress(codec, input);
        benchmark::DoNotOptimize(image);
        opj_image_destroy(image);
        opj_destroy_codec(codec);
        opj_stream_destroy(input);
        if (!ok) return state.SkipWithError("OpenJPEG decode failed");
    }
    state.SetItemsProcessed(state.iterations() * kSize * kSize);
}

BENCHMARK(BM_JpegLs_Module)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegLs_CharLS)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Jpeg2000_Module)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Jpeg2000_OpenJPEG)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
