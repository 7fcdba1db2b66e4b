// Lossless JPEG SV1 on 16-bit 512 x 512 CT frames: our jpeg2 module against DCMTK's decoder
// (its library, and dcmdjpeg) and GDCM's (gdcmconv --raw); and JPEG baseline 8-bit: our
// jpeg1 module against libjpeg-turbo called directly. Figures in megapixels per second.
// The command-line tools are timed on a 100-frame file minus a 1-frame file, so that
// process start-up and file reading cancel out.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <jpeglib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmjpeg/djcparam.h"
#include "dcmtk/dcmjpeg/djdijg16.h"
#include "dcmtk/oflog/oflog.h"
#include "phantom/data_set_writer.h"
#include "phantom/dicom_file_writer.h"
#include "phantom/phantom_writer.h"
#include "vexel_codec.h"

namespace {

namespace fs = std::filesystem;
constexpr int kSize = 512;
constexpr int kFrames = 100;

// CT slices with scanner-like noise (a smooth phantom compresses far better than real CT).
std::vector<uint8_t> NoisyCtFrames(int frames) {
    vexel::phantom::PhantomOptions options;
    options.columns = options.rows = kSize;
    options.slices = 16;
    std::vector<uint8_t> bytes;
    uint32_t state = 1;
    for (int f = 0; f < frames; ++f) {
        const auto slice = vexel::phantom::CtSliceStored(options, 4 + f % 8);
        for (int16_t v : slice) {
            int noise = 0;
            for (int k = 0; k < 4; ++k) {
                state = state * 1664525u + 1013904223u;
                noise += static_cast<int>(state >> 27) - 16;
            }
            const int value = std::clamp(v + 2048 + noise, 0, 65535);
            bytes.push_back(static_cast<uint8_t>(value));
            bytes.push_back(static_cast<uint8_t>(value >> 8));
        }
    }
    return bytes;
}

bool WriteNative(const fs::path& path, int frames) {
    vexel::phantom::CDataSetWriter ds;
    ds.AddString(0x00080016, "UI", "1.2.840.10008.5.1.4.1.1.7");
    ds.AddString(0x00080018, "UI", "2.25.1234." + std::to_string(frames));
    ds.AddUS(0x00280002, 1);
    ds.AddString(0x00280004, "CS", "MONOCHROME2");
    ds.AddString(0x00280008, "IS", std::to_string(frames));
    ds.AddUS(0x00280010, kSize);
    ds.AddUS(0x00280011, kSize);
    ds.AddUS(0x00280100, 16);
    ds.AddUS(0x00280101, 16);
    ds.AddUS(0x00280102, 15);
    ds.AddUS(0x00280103, 0);
    const std::vector<uint8_t> pixels = NoisyCtFrames(frames);
    ds.AddRaw(0x7FE00010, "OW", pixels);
    vexel::phantom::FileMeta meta{"1.2.840.10008.5.1.4.1.1.7", "2.25.1234", "", {}, {}};
    meta.implementationClassUid = vexel::phantom::kImplementationClassUid;
    meta.implementationVersionName = vexel::phantom::kImplementationVersionName;
    std::string error;
    return vexel::phantom::WriteDicomFile(path, meta, ds, &error);
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The fragments of the last encapsulated (7FE0,0010), offset table left out: one per frame.
std::vector<std::vector<uint8_t>> Fragments(const std::vector<uint8_t>& file) {
    const uint8_t tag[] = {0xE0, 0x7F, 0x10, 0x00, 'O', 'B', 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    size_t pos = std::string::npos;
    for (size_t i = 0; i + sizeof(tag) <= file.size(); ++i) {
        if (std::equal(tag, tag + sizeof(tag), file.begin() + static_cast<long>(i))) pos = i;
    }
    std::vector<std::vector<uint8_t>> items;
    if (pos == std::string::npos) return items;
    pos += sizeof(tag);
    while (pos + 8 <= file.size() && file[pos] == 0xFE && file[pos + 1] == 0xFF &&
           file[pos + 2] == 0x00 && file[pos + 3] == 0xE0) {
        const size_t length =
            file[pos + 4] | file[pos + 5] << 8 | file[pos + 6] << 16 | size_t{file[pos + 7]} << 24;
        if (pos + 8 + length > file.size()) break;
        items.emplace_back(file.begin() + static_cast<long>(pos + 8),
                           file.begin() + static_cast<long>(pos + 8 + length));
        pos += 8 + length;
    }
    if (!items.empty()) items.erase(items.begin());
    return items;
}

struct Corpus {
    fs::path dir;
    std::vector<std::vector<uint8_t>> lossless;  // SV1, 16-bit
    std::vector<std::vector<uint8_t>> baseline;  // 8-bit
};

const Corpus& GetCorpus() {
    static const Corpus corpus = [] {
        Corpus c;
        c.dir = fs::path(VEXEL_BENCH_DATA_DIR) / "lossless";
        fs::create_directories(c.dir);
        const fs::path sv1 = c.dir / "ct100_sv1.dcm";
        if (!fs::exists(sv1)) {
            WriteNative(c.dir / "ct100.dcm", kFrames);
            WriteNative(c.dir / "ct1.dcm", 1);
            const std::string d = c.dir.string() + "/";
            std::system(("cd " + d +
                         " && dcmcjpeg +e1 ct1.dcm ct1_sv1.dcm && dcmcjpeg +eb "
                         "ct100.dcm ct100_eb.dcm && dcmcjpeg +eb ct1.dcm ct1_eb.dcm && dcmcjpeg "
                         "+e1 ct100.dcm ct100_sv1.dcm")
                            .c_str());
        }
        c.lossless = Fragments(ReadBytes(sv1));
        c.baseline = Fragments(ReadBytes(c.dir / "ct100_eb.dcm"));
        return c;
    }();
    return corpus;
}

using DecodeEx = int32_t (*)(VexelDecodeRequest*);

DecodeEx LoadModule(const char* name) {
    const fs::path path = fs::read_symlink("/proc/self/exe").parent_path() / name;
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    return handle ? reinterpret_cast<DecodeEx>(dlsym(handle, "DecompressJPEGEx")) : nullptr;
}

void SetRate(benchmark::State& state, size_t frames) {
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(frames) * kSize * kSize / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

void RunModule(benchmark::State& state, const char* module,
               const std::vector<std::vector<uint8_t>>& frames) {
    const DecodeEx decode = LoadModule(module);
    if (decode == nullptr || frames.empty()) {
        state.SkipWithError("module or corpus missing");
        return;
    }
    std::vector<uint8_t> output(size_t{kSize} * kSize * 2);
    for (auto _ : state) {
        for (const auto& frame : frames) {
            VexelDecodeRequest r{};
            r.structSize = sizeof(r);
            r.data = frame.data();
            r.size = frame.size();
            r.output = output.data();
            r.capacity = output.size();
            r.rows = r.columns = kSize;
            r.components = 1;
            if (decode(&r) != 0) state.SkipWithError("decode failed");
        }
        benchmark::DoNotOptimize(output.data());
    }
    SetRate(state, frames.size());
}

void BM_LosslessSv1_Vexel(benchmark::State& state) {
    RunModule(state, "libvexel-jpeg2.so", GetCorpus().lossless);
}

void BM_LosslessSv1_DcmtkLibrary(benchmark::State& state) {
    OFLog::getLogger("dcmtk.dcmjpeg").setLogLevel(OFLogger::OFF_LOG_LEVEL);
    std::vector<std::vector<uint8_t>> frames = GetCorpus().lossless;
    std::vector<uint8_t> output(size_t{kSize} * kSize * 2);
    DJCodecParameter parameters(ECC_lossyYCbCr, EDC_never, EUC_never, EPC_colorByPixel);
    for (auto _ : state) {
        for (auto& frame : frames) {
            DJDecompressIJG16Bit codec(parameters, OFFalse);
            codec.init();
            if (codec
                    .decode(frame.data(), static_cast<Uint32>(frame.size()), output.data(),
                            static_cast<Uint32>(output.size()), OFFalse)
                    .bad()) {
                state.SkipWithError("DCMTK decode failed");
            }
        }
        benchmark::DoNotOptimize(output.data());
    }
    SetRate(state, frames.size());
}

// Seconds of `command` on the 100-frame file minus the 1-frame file.
void RunTool(benchmark::State& state, const std::string& command, const char* stem) {
    const std::string d = GetCorpus().dir.string() + "/";
    auto time = [&](const std::string& in) {
        const auto start = std::chrono::steady_clock::now();
        const int code = std::system((command + " " + d + in + " " + d + "out.dcm").c_str());
        if (code != 0) state.SkipWithError("tool failed");
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    for (auto _ : state) {
        const double many = time(std::string("ct100_") + stem + ".dcm");
        const double one = time(std::string("ct1_") + stem + ".dcm");
        state.SetIterationTime(std::max(many - one, 1e-6));
    }
    SetRate(state, kFrames - 1);
}

void BM_LosslessSv1_Dcmdjpeg(benchmark::State& state) {
    RunTool(state, "dcmdjpeg", "sv1");
}
void BM_LosslessSv1_GdcmconvRaw(benchmark::State& state) {
    RunTool(state, "gdcmconv --raw", "sv1");
}

void BM_Baseline8_Vexel(benchmark::State& state) {
    RunModule(state, "libvexel-jpeg1.so", GetCorpus().baseline);
}

// libjpeg-turbo as djpeg drives it, greyscale out, no extra copy; with `widen` each row is
// also widened to the 16-bit words the module contract asks for.
void RunLibjpeg(benchmark::State& state, bool widen) {
    const auto& frames = GetCorpus().baseline;
    std::vector<uint8_t> output(size_t{kSize} * kSize);
    std::vector<uint16_t> words(widen ? size_t{kSize} * kSize : 0);
    for (auto _ : state) {
        for (const auto& frame : frames) {
            jpeg_decompress_struct info{};
            jpeg_error_mgr error{};
            info.err = jpeg_std_error(&error);
            jpeg_create_decompress(&info);
            jpeg_mem_src(&info, frame.data(), static_cast<unsigned long>(frame.size()));
            jpeg_read_header(&info, TRUE);
            jpeg_start_decompress(&info);
            while (info.output_scanline < info.output_height) {
                const size_t offset = size_t{info.output_scanline} * kSize;
                JSAMPROW row = output.data() + (widen ? 0 : offset);
                jpeg_read_scanlines(&info, &row, 1);
                for (size_t x = 0; widen && x < kSize; ++x)
                    words[offset + x] = row[x];
            }
            jpeg_finish_decompress(&info);
            jpeg_destroy_decompress(&info);
        }
        benchmark::DoNotOptimize(output.data());
        benchmark::DoNotOptimize(words.data());
    }
    SetRate(state, frames.size());
}

void BM_Baseline8_Libjpeg(benchmark::State& state) {
    RunLibjpeg(state, false);
}
void BM_Baseline8_LibjpegWidened(benchmark::State& state) {
    RunLibjpeg(state, true);
}

}  // namespace

BENCHMARK(BM_LosslessSv1_Vexel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LosslessSv1_DcmtkLibrary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LosslessSv1_Dcmdjpeg)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LosslessSv1_GdcmconvRaw)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline8_Vexel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline8_Libjpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline8_LibjpegWidened)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
