// JPEG-LS and JPEG 2000 decoding of 512 x 512 16-bit CT frames: our modules (loaded with
// dlopen, as the program loads them) against CharLS and OpenJPEG called directly, same run.
// A 2048 x 2048 JPEG 2000 frame compares the module (OpenJPEG's thread pool from a million
// pixels on) with OpenJPEG on one thread and on N threads; the outputs are checked equal to
// the source samples before anything is timed. Multi-threaded rows count wall time.
//   build-*/bin/vexel_codec_bench --benchmark_min_time=1
#include <benchmark/benchmark.h>
#include <charls/charls.h>
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

void DecodeWithModule(benchmark::State& state, const char* module,
                      const std::vector<uint8_t>& stream, uint32_t size = kSize) {
    const vexel::bench::CodecDecode decode = vexel::bench::LoadCodecModule(module);
    if (decode == nullptr) return state.SkipWithError("module not found beside the benchmark");
    std::vector<uint8_t> output(size_t{size} * size * 2);
    for (auto _ : state) {
        if (!vexel::bench::DecodeGreyFrame(decode, stream, size, output)) return state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(output.data());
    }
    state.SetItemsProcessed(state.iterations() * size * size);
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

// OpenJPEG as an application would call it: memory stream, header, decode. The image is
// handed back (null on failure); `threads` 0 decodes on the caller's thread.
opj_image_t* DecodeWithOpenJpeg(const std::vector<uint8_t>& stream, int threads) {
    Source source{&stream, 0};
    opj_stream_t* input = opj_stream_create(1 << 20, OPJ_TRUE);
    opj_stream_set_user_data(input, &source, nullptr);
    opj_stream_set_user_data_length(input, stream.size());
    opj_stream_set_read_function(input, &ReadSource);
    opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_J2K);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_setup_decoder(codec, &parameters);
    opj_codec_set_threads(codec, threads);
    opj_image_t* image = nullptr;
    const bool ok = opj_read_header(input, codec, &image) && opj_decode(codec, input, image) &&
                    opj_end_decompress(codec, input);
    opj_destroy_codec(codec);
    opj_stream_destroy(input);
    if (!ok) {
        opj_image_destroy(image);
        return nullptr;
    }
    return image;
}

void DecodeWithOpenJpeg(benchmark::State& state, const std::vector<uint8_t>& stream,
                        uint32_t size, int threads) {
    for (auto _ : state) {
        opj_image_t* image = DecodeWithOpenJpeg(stream, threads);
        benchmark::DoNotOptimize(image);
        if (image == nullptr) return state.SkipWithError("OpenJPEG decode failed");
        opj_image_destroy(image);
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}

void BM_Jpeg2000_OpenJPEG(benchmark::State& state) {
    DecodeWithOpenJpeg(state, TestCorpus().j2k, kSize, 0);
}

constexpr uint32_t kLargeSize = 2048;

struct LargeFrame {
    std::vector<uint8_t> j2k;
    bool identical = false;  // module and OpenJPEG on one thread both give the source back
};

bool SameAsSource(const std::vector<uint16_t>& samples, const uint8_t* words) {
    return std::memcmp(samples.data(), words, samples.size() * 2) == 0;
}

bool SameAsSource(const std::vector<uint16_t>& samples, const opj_image_t* image) {
    if (image == nullptr || image->numcomps != 1) return false;
    const OPJ_INT32* data = image->comps[0].data;
    return std::equal(samples.begin(), samples.end(), data,
                      [](uint16_t a, OPJ_INT32 b) { return OPJ_INT32{a} == b; });
}

const LargeFrame& LargeJ2k() {
    static const LargeFrame frame = [] {
        const std::vector<uint16_t> samples = vexel::bench::NoisyCtSlice(kLargeSize);
        LargeFrame result{vexel::bench::EncodeJ2kLossless(samples, kLargeSize, kLargeSize)};
        const vexel::bench::CodecDecode decode = vexel::bench::LoadCodecModule("jpeg2000");
        std::vector<uint8_t> output(samples.size() * 2);
        opj_image_t* single = DecodeWithOpenJpeg(result.j2k, 0);
        result.identical = decode != nullptr &&
                           vexel::bench::DecodeGreyFrame(decode, result.j2k, kLargeSize, output) &&
                           SameAsSource(samples, output.data()) && SameAsSource(samples, single);
        opj_image_destroy(single);
        return result;
    }();
    return frame;
}

void BM_Jpeg2000_2048_Module(benchmark::State& state) {
    if (!LargeJ2k().identical) return state.SkipWithError("decoded frames differ");
    DecodeWithModule(state, "jpeg2000", LargeJ2k().j2k, kLargeSize);
}

// Arg: OpenJPEG threads (0 = the caller's thread only).
void BM_Jpeg2000_2048_OpenJPEG(benchmark::State& state) {
    if (!LargeJ2k().identical) return state.SkipWithError("decoded frames differ");
    DecodeWithOpenJpeg(state, LargeJ2k().j2k, kLargeSize, static_cast<int>(state.range(0)));
}

BENCHMARK(BM_JpegLs_Module)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegLs_CharLS)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Jpeg2000_Module)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Jpeg2000_OpenJPEG)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Jpeg2000_2048_OpenJPEG)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Jpeg2000_2048_Module)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Jpeg2000_2048_OpenJPEG)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
